// What the tools-window benchmarks share: medians, a list of runs, and
// korvalctl's --json answer to a command run beside the window.
#pragma once

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace windowbench {

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline std::string List(const std::vector<double> &v, const char *format = "%.3f")
{
    std::string s;
    for (double x : v) {
        char one[32];
        std::snprintf(one, sizeof one, format, x);
        s += (s.empty() ? "" : ", ") + std::string(one);
    }
    return s;
}

// The JSON korvalctl printed for `command` (a shell command line); none when
// it could not run or ended with an exit code other than 0.
inline std::optional<nlohmann::json> KorvalctlJson(const std::string &command)
{
    std::FILE *p = popen(command.c_str(), "r");
    if (p == nullptr)
        return std::nullopt;
    std::string out;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0;)
        out.append(buffer.data(), n);
    if (pclose(p) != 0)
        return std::nullopt;
    return nlohmann::json::parse(out);
}

} // namespace windowbench
