// What the traffic log window costs the output panel's write ("Zapsat",
// the LAN driver to the simulator on 127.0.0.1, timing off): the same
// write with the log window listening and with it deaf, in turns, each
// timed on its own. The listening turns also carry the log's timer ticks
// that take the exchanges into the ring and the view, one each 200 ms as
// the window's timer runs them. Beside it, the log's
// memory over 1 000 000 exchanges: the ring's bytes and the process's
// resident size once the ring is full and after every further 100 000.
#include "ExchangeHook.h"
#include "OkamDOUT.h"
#include "Qxxx417.h"
#include "SimProcess.h"
#include "Zaznam.h"
#include "q417drv.h"

#include "BenchReport.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace
{

uint16_t SimPort = 0;

long ResidentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct TPanel {
    TData data{};
    std::unique_ptr<TForm9> panel;

    bool Open()
    {
        TInitParams params{};
        q417_params_set_text(params.data(), "127.0.0.1");
        params[1] = SimPort;
        params[2] = 1000;
        if (DrvInit(ifLan, data.Handle, params) != 0 ||
            DrvSetConfig(ifLan, data.Handle, 9600, BaudCodeTimeout(RateToBaudCode(9600)), 2) != 0)
            return false;
        data.Kind = ifLan;
        data.Address = 1;
        data.Connected = true;
        panel = std::make_unique<TForm9>();
        panel->Data = &data;
        panel->show(); // takes the address from the record
        return true;
    }
    ~TPanel()
    {
        panel.reset();
        if (data.Handle != 0)
            DrvDone(ifLan, data.Handle);
    }
};

void BM_PairedWrite(benchmark::State &state)
{
    TPanel p;
    if (!p.Open()) {
        state.SkipWithError("the LAN driver did not connect to the simulator");
        return;
    }
    TZaznam log;
    log.show();
    using Clock = std::chrono::steady_clock;
    Clock::duration plain{}, logged{}, ticks{};
    bool loggedFirst = false;
    auto lastTick = Clock::now();
    for (auto _ : state) {
        loggedFirst = !loggedFirst;
        for (bool withLog : {loggedFirst, !loggedFirst}) {
            log.SetListening(withLog);
            const auto begun = Clock::now();
            p.panel->Button1Click();
            if (withLog && Clock::now() - lastTick >= std::chrono::milliseconds(200)) {
                const auto tick = Clock::now();
                log.Timer1Timer();
                lastTick = Clock::now();
                ticks += lastTick - tick;
            }
            (withLog ? logged : plain) += Clock::now() - begun;
        }
    }
    log.SetListening(false);
    log.Timer1Timer();
    const double n = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    const double plainUs = std::chrono::duration<double, std::micro>(plain).count() / n;
    const double loggedUs = std::chrono::duration<double, std::micro>(logged).count() / n;
    state.counters["plain_us"] = plainUs;
    state.counters["logged_us"] = loggedUs;
    state.counters["ratio"] = plainUs > 0 ? loggedUs / plainUs : 0;
    state.counters["lines"] = double(log.Ring().Size());
    // Of logged_us, what the ticks took, spread over the writes.
    state.counters["tick_us"] = std::chrono::duration<double, std::micro>(ticks).count() / n;
}

// 1 000 000 exchanges through the hook, taken in batches of 1000 as the
// timer would; the exchange's own cost is not part of this.
void Memory()
{
    TZaznam log;
    log.show();
    TModuleStep step;
    step.What = "zápis výstupů = 0x0000A5F0";
    step.Cmd = CmdWriteOutputs;
    step.Sub = SubChannels;
    step.Request = {0xF0, 0xA5, 0, 0};
    const TModuleLink link{ifLan, 1, 1};
    long rssFull = 0;
    std::size_t bytesFull = 0;
    for (int n = 1; n <= 1000000; ++n) {
        step.Started = std::chrono::system_clock::now();
        NotifyExchange(link, step);
        if (n % 1000 == 0)
            log.Timer1Timer();
        if (n == int(TZaznam::Capacity)) {
            rssFull = ResidentKiB();
            bytesFull = log.Ring().Bytes();
        }
        if (n % 100000 == 0)
            std::printf("memory: %7d exchanges  ring %zu bytes  RSS %ld KiB\n", n,
                        log.Ring().Bytes(), ResidentKiB());
    }
    // One tick's cost with the ring full: 1000 new lines in, the oldest
    // 1000 out, the view scrolled to the newest.
    for (int n = 0; n < 1000; ++n)
        NotifyExchange(link, step);
    const auto begun = std::chrono::steady_clock::now();
    log.Timer1Timer();
    const double tickUs = std::chrono::duration<double, std::micro>(
                              std::chrono::steady_clock::now() - begun)
                              .count();
    std::printf("tick: 1000 lines into the full ring and the view: %.0f us\n", tickUs);
    std::printf("memory: full at 100000: ring %zu bytes, RSS %ld KiB; after 1000000: ring %zu "
                "bytes, RSS %ld KiB (%+ld KiB)\n",
                bytesFull, rssFull, log.Ring().Bytes(), ResidentKiB(), ResidentKiB() - rssFull);
}

} // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    simtest::SimProcess sim(SIM_EXE, {"--udp-port", "0", "--seed", "1"});
    if (!sim.Ready()) {
        std::fprintf(stderr, "q417sim: %s\n", sim.Failure().c_str());
        return 1;
    }
    SimPort = sim.UdpPort();
    DrvSetLibraryDirectory(DRIVER_DIR);

    benchmark::RegisterBenchmark("BM_PairedWrite", BM_PairedWrite)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    Memory();
    return 0;
}
