// What every benchmark program of ours reports beside Google Benchmark's own
// table: the real time per iteration of each benchmark (the median when
// repeated) for its summary row, and the machine it ran on.
#pragma once

#include "TableRow.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

class MedianCollector : public benchmark::ConsoleReporter {
public:
    MedianCollector() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (r.error_occurred)
                continue;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            const std::string name = r.run_name.function_name;
            // A median, once there is one, wins over single iterations.
            if (median || (r.run_type == Run::RT_Iteration && !medians_.count(name)))
                seconds[name] =
                    r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
            if (median)
                medians_[name] = true;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> seconds; // real time per iteration

private:
    std::map<std::string, bool> medians_;
};

inline std::string CpuModel()
{
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

