// What the binding adds to an exchange, all through the same in-process
// driver (libqusb1417.so) in one run:
// - ModuleCall: request composed, DrvSend through the entry table, status
//   checked and the answer unpacked into the caller's bytes;
// - HandWritten: the same exchange written against the driver's Send entry
//   directly, as a caller without the binding would: the eight request
//   elements set from the caller's bytes, Send, the answer taken back;
// - BareSend: Send alone with a ready request and nothing taken back, the
//   driver's own floor.
#include "BenchReport.h"
#include "Qxxx417.h"
#include "q417drv.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
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
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(d0);
        benchmark::DoNotOptimize(d3);
    }
}

void BM_HandWritten(benchmark::State &state)
{
    TDataArray request{};
    TDataArray reply{};
    for (auto _ : state) {
        uint8_t address = 1, cmd = CmdReadInputs, sub = SubChannels;
        uint8_t x = 0, d0 = 0, d1 = 0, d2 = 0, d3 = 0, status = 0;
        // Opaque to the optimiser, as ModuleCall's arguments are.
        benchmark::DoNotOptimize(address);
        benchmark::DoNotOptimize(cmd);
        benchmark::DoNotOptimize(sub);
        benchmark::DoNotOptimize(x);
        request[0] = address;
        request[1] = cmd;
        request[2] = sub;
        request[3] = x;
        request[4] = d0;
        request[5] = d1;
        request[6] = d2;
        request[7] = d3;
        int32_t xOut = 0, s = 0;
        const int32_t r = directSend(handle, request.data(), reply.data(), &xOut, &s);
        status = uint8_t(r != 0 ? r : s);
        if (status == 0) {
            x = uint8_t(xOut);
            d0 = uint8_t(reply[0]);
            d1 = uint8_t(reply[1]);
            d2 = uint8_t(reply[2]);
            d3 = uint8_t(reply[3]);
        }
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(d0);
        benchmark::DoNotOptimize(d3);
    }
}

void BM_BareSend(benchmark::State &state)
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
BENCHMARK(BM_HandWritten);
BENCHMARK(BM_BareSend);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    // Nanoseconds of the binding, not the bus's milliseconds of wire time.
    ::setenv("Q417_TIMING", "none", 1);
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
    const auto hand = collector.seconds.find("BM_HandWritten");
    const auto bare = collector.seconds.find("BM_BareSend");
    if (call == collector.seconds.end() || hand == collector.seconds.end() ||
        bare == collector.seconds.end())
        return 1;
    const double callNs = call->second * 1e9, handNs = hand->second * 1e9,
                 bareNs = bare->second * 1e9;
    char date[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
    std::printf("\n| machine | date | ModuleCall (ns) | hand-written (ns) | ratio | bare Send (ns) | "
                "ratio |\n|---|---|---|---|---|---|---|\n"
                "| %u × %s | %s | %.1f | %.1f | %.2f | %.1f | %.2f |\n\n",
                std::thread::hardware_concurrency(), CpuModel().c_str(), date, callNs, handNs,
                callNs / handNs, bareNs, callNs / bareNs);
    PrintRow("ModuleCall exchange against the same exchange hand-written on Send, in process",
             Figure(callNs, "ns"), Figure(handNs, "ns"), callNs / handNs, "<= 1.10",
             callNs / handNs <= 1.10);
    PrintRow("ModuleCall exchange against bare Send with a ready request, in process",
             Figure(callNs, "ns"), Figure(bareNs, "ns"), callNs / bareNs, "-", true);
    return 0;
}
