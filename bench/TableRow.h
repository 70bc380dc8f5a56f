// The project's performance table is put together by bench/all.sh from one
// "row" line per figure, which every benchmark program prints.
#pragma once

#include <cstdio>
#include <string>

// A measured figure with its unit, one decimal (two below 10).
inline std::string Figure(double value, const char *unit)
{
    char text[64];
    std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : "%.1f %s", value, unit);
    return text;
}

// One row of the project's performance table, for bench/all.sh to collect:
// "row", then figure, measured, reference, ratio, goal and whether it is
// met, separated by tabs.
inline void PrintRow(const std::string &figure, const std::string &measured,
                     const std::string &reference, double ratio, const std::string &goal,
                     bool met)
{
    std::printf("row\t%s\t%s\t%s\t%.2f\t%s\t%s\n", figure.c_str(), measured.c_str(),
                reference.c_str(), ratio, goal.c_str(), met ? "yes" : "no");
    std::fflush(stdout);
}
