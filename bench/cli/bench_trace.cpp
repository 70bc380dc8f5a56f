// What korvalctl's --trace into a file adds to a module exchange: the input
// read (ReadInputs through the binding and the LAN driver to the simulator
// on 127.0.0.1, timing off) with every step traced as the tool traces it,
// against the same read untraced, in turns. Beside them, one trace line
// alone.
#include "Module.h"
#include "Qxxx417.h"
#include "SimProcess.h"
#include "TraceFile.h"
#include "q417drv.h"

#include "BenchReport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace
{

uint16_t SimPort = 0;
std::string TraceDir;

// The simulator's module, reached as the tool reaches it.
struct TLan {
    TModuleLink link{ifLan, 0, 1};

    bool Open()
    {
        TInitParams params{};
        q417_params_set_text(params.data(), "127.0.0.1");
        params[1] = SimPort;
        params[2] = 1000;
        return DrvInit(ifLan, link.Handle, params) == 0 &&
               DrvSetConfig(ifLan, link.Handle, 9600, BaudCodeTimeout(RateToBaudCode(9600)), 2) ==
                   0;
    }
    ~TLan()
    {
        if (link.Handle != 0)
            DrvDone(ifLan, link.Handle);
    }
};

// Untraced and traced reads taken in turns, each timed on its own, so that
// both meet the same state of the machine (the other processes, which of
// the two processors each side runs on): measured apart, a second's drift
// between two benchmarks is larger than the trace's cost.
void BM_Paired(benchmark::State &state, TTraceFormat format)
{
    TLan lan;
    if (!lan.Open()) {
        state.SkipWithError("the LAN driver did not connect to the simulator");
        return;
    }
    std::FILE *file = std::fopen((TraceDir + "/trace").c_str(), "w");
    if (file == nullptr) {
        state.SkipWithError("no trace file");
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::duration plain{}, traced{};
    {
        TTrace trace(file, format);
        // The tool asks the driver for a status's text once and keeps it.
        std::map<int32_t, std::string> texts;
        TDataArray text{};
        const TStepReport report = [&](const TModuleStep &step) {
            auto found = texts.find(step.Status);
            if (found == texts.end())
                found = texts.emplace(step.Status, StatusCodeText(ifLan, step.Status, text)).first;
            trace.Exchange(lan.link, step, found->second);
            return true;
        };
        const TStepReport none;
        bool tracedFirst = false;
        for (auto _ : state) {
            // Which goes first alternates: neither gains from following the other.
            tracedFirst = !tracedFirst;
            for (bool withTrace : {tracedFirst, !tracedFirst}) {
                uint32_t word = 0;
                const auto begun = Clock::now();
                const bool ok = ReadInputs(lan.link, word, withTrace ? report : none).Ok();
                (withTrace ? traced : plain) += Clock::now() - begun;
                if (!ok) {
                    state.SkipWithError("input read failed");
                    break;
                }
                benchmark::DoNotOptimize(word);
            }
        }
    }
    std::fclose(file);
    const double n = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    const double plainUs = std::chrono::duration<double, std::micro>(plain).count() / n;
    const double tracedUs = std::chrono::duration<double, std::micro>(traced).count() / n;
    state.counters["plain_us"] = plainUs;
    state.counters["traced_us"] = tracedUs;
    state.counters["ratio"] = plainUs > 0 ? tracedUs / plainUs : 0;
}

// A line alone, into a file: the trace's own cost without the network's
// scatter around it.
void BM_TraceLine(benchmark::State &state)
{
    std::FILE *file = std::fopen((TraceDir + "/line").c_str(), "w");
    if (file == nullptr) {
        state.SkipWithError("no trace file");
        return;
    }
    {
        TTrace trace(file, TTraceFormat::Text);
        TModuleStep step;
        step.What = "čtení vstupů = 0x0000A5F0";
        step.Sub = SubChannels;
        step.Reply = {0xF0, 0xA5, 0, 0};
        step.Duration = std::chrono::nanoseconds(41'300);
        const TModuleLink link{ifLan, 1, 1};
        const std::string ok = "V pořádku";
        for (auto _ : state) {
            // A new microsecond each line, a new second now and then, as
            // in a real trace.
            step.Started = std::chrono::system_clock::now();
            trace.Exchange(link, step, ok);
        }
    }
    std::fclose(file);
}

// The median over the repetitions of each benchmark's counters (a single
// run's when not repeated).
class TCounterCollector : public MedianCollector
{
  public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.error_occurred || !(median || r.run_type == Run::RT_Iteration))
                continue;
            for (const auto &[name, counter] : r.counters) {
                const std::string key = r.run_name.function_name + "/" + name;
                if (median || !fromMedian_.count(key))
                    counters[key] = counter.value;
                if (median)
                    fromMedian_[key] = true;
            }
        }
        MedianCollector::ReportRuns(runs);
    }

    std::map<std::string, double> counters;

  private:
    std::map<std::string, bool> fromMedian_;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    simtest::SimProcess sim(SIM_EXE, {"--udp-port", "0", "--seed", "1"});
    if (!sim.Ready()) {
        std::fprintf(stderr, "q417sim: %s\n", sim.Failure().c_str());
        return 1;
    }
    SimPort = sim.UdpPort();
    DrvSetLibraryDirectory(DRIVER_DIR);
    simtest::TempDir dir;
    TraceDir = dir.Path();

    benchmark::RegisterBenchmark("BM_PairedText", BM_Paired, TTraceFormat::Text)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_PairedCsv", BM_Paired, TTraceFormat::Csv)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    // A fixed count keeps the file small (some 20 MB).
    benchmark::RegisterBenchmark("BM_TraceLine", BM_TraceLine)
        ->Iterations(100000)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    TCounterCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const auto &c = collector.counters;
    for (const char *name : {"BM_PairedText/ratio", "BM_PairedCsv/ratio"}) {
        if (!c.count(name)) {
            std::fprintf(stderr, "%s: no figure\n", name);
            return 1;
        }
    }
    const auto line = collector.seconds.find("BM_TraceLine");
    if (line != collector.seconds.end())
        std::printf("\na text line alone into a file: %.3f µs\n", line->second * 1e6);
    for (const char *format : {"Text", "Csv"}) {
        const std::string name = std::string("BM_Paired") + format;
        const double plain = c.at(name + "/plain_us"), traced = c.at(name + "/traced_us");
        const double ratio = c.at(name + "/ratio");
        std::printf("%s: read %.2f µs, traced %.2f µs, ratio %.3f (goal: at most 1.05)\n", format,
                    plain, traced, ratio);
        PrintRow(std::string("korvalctl --trace into a file (") +
                     (format[0] == 'T' ? "text" : "CSV") +
                     "): LAN input read to the simulator (timing off) traced, against untraced, "
                     "in turns",
                 Figure(traced, "µs"), Figure(plain, "µs"), ratio, "<= 1.05", ratio <= 1.05);
    }
    return 0;
}
