// What the binding adds to an exchange: ModuleCall (request composed,
// DrvSend through the entry table, answer unpacked) against calling the
// driver's Send entry directly with a ready request, both through the same
// in-process driver (libqusb1417.so) in the same run.
#include "BenchReport.h"
#include "Qxxx417.h"
#include "q417drv.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

namespace {

int32_t handle = 0;
q417_send_fn directSend = nullptr;

void BM_ModuleCall(benchmark::State &state)
{
    TDataArray reply{};
    for (auto _ : state) {
        uint8_t x = 0, d0 = 0, d1 = 0, d2 = 0, d3 = 0, status = 0;
        ModuleCall(ifUsb, handle, 1, CmdReadInputs, SubChannels, x, d0, d1, d2, d3, status,
                   reply);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(d3);
    }
}

void BM_DirectSend(benchmark::State &state)
{
    TDataArray request{};
    request[0] = 1;
    request[1] = CmdReadInputs;
    request[2] = SubChannels;
    TDataArray reply{};
    for (auto _ : state) {
        int32_t x = 0, status = 0;
        const int32_t r = directSend(handle, request.data(), reply.data(), &x, &status);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(reply);
    }
}

BENCHMARK(BM_ModuleCall);
BENCHMARK(BM_DirectSend);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    DrvSetLibraryDirectory(DRIVER_DIR);
    if (DrvInit(ifUsb, handle, TInitParams{}) != 0) {
        std::fprintf(stderr, "libqusb1417.so did not open from %s\n", DRIVER_DIR);
        return 1;
    }
    // The binding's own copy of the library: dlopen finds it loaded.
    const std::filesystem::path lib = std::filesystem::path(DRIVER_DIR) / "libqusb1417.so";
    void *h = dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD);
    directSend = h != nullptr ? reinterpret_cast<q417_send_fn>(dlsym(h, "QUSB1417_Send")) : nullptr;
    if (directSend == nullptr) {
        std::fprintf(stderr, "no QUSB1417_Send\n");
        return 1;
    }

    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    dlclose(h);
    DrvDone(ifUsb, handle);

    const auto call = collector.seconds.find("BM_ModuleCall");
    const auto direct = collector.seconds.find("BM_DirectSend");
    if (call == collector.seconds.end() || direct == collector.seconds.end())
        return 1;
    const double callNs = call->second * 1e9, directNs = direct->second * 1e9;
    char date[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
    std::printf("\n| machine | date | ModuleCall (ns) | direct Send (ns) | ratio |\n"
                "|---|---|---|---|---|\n"
                "| %u × %s | %s | %.1f | %.1f | %.2f |\n\nratio %.2f (goal: at most 1.10)\n",
                std::thread::hardware_concurrency(), CpuModel().c_str(), date, callNs, directNs,
                callNs / directNs, callNs / directNs);
    return 0;
}
