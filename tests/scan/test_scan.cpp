// The module finder against the simulator through the LAN driver, and
// against the in-process module of kind 2.
#include "BusTiming.h"
#include "Qxxx417.h"
#include "Scan.h"
#include "SimProcess.h"
#include "Timing.h"
#include "q417drv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <random>
#include <set>

namespace
{

using namespace std::chrono_literals;
using simtest::SimProcess;

std::vector<uint8_t> Range(int first, int count)
{
    std::vector<uint8_t> v(std::size_t(count), 0);
    std::iota(v.begin(), v.end(), uint8_t(first));
    return v;
}

// "address:code name", or "address:code collision/tries".
std::string Text(const TScanFind &f)
{
    return std::to_string(f.Address) + ":" + std::to_string(f.BaudCode) +
           (f.Collision ? " collision/" + std::to_string(f.Tries) : " " + f.Name);
}

std::vector<std::string> Texts(const TScanResult &r)
{
    std::vector<std::string> v;
    for (const TScanFind &f : r.Finds)
        v.push_back(Text(f));
    return v;
}

class Scan : public ::testing::Test
{
  protected:
    void SetUp() override { DrvSetLibraryDirectory(DRIVER_DIR); }

    // The simulator answers at once unless `args` ask otherwise.
    void Start(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--udp-port", "0"});
        sim_.emplace(SIM_EXE, args);
        ASSERT_TRUE(sim_->Ready()) << sim_->Failure();
        link_.IpAddress = "127.0.0.1";
        link_.UdpPort = sim_->UdpPort();
    }

    // For replies that take no wire time: time-outs of the margin alone.
    // A reply later than that, as a module's own turnaround or a suite run
    // beside a compiler makes it, is a late reply: found all the same when
    // it comes within the late window, which leaves the slowest module of
    // these tests (100 ms) another 100 ms. With the guard the simulator
    // reports silence at once, so a long time-out costs nothing; without
    // it every empty probe waits the margin out.
    static TScanOptions Quick(std::vector<uint8_t> addresses, std::vector<uint8_t> codes,
                              bool guard = true)
    {
        TScanOptions o;
        o.Addresses = std::move(addresses);
        o.BaudCodes = std::move(codes);
        o.WireTimed = false;
        o.Guard = guard ? DefaultScanGuard : std::chrono::microseconds(0);
        o.Margin = guard ? std::chrono::milliseconds(100) : std::chrono::milliseconds(25);
        o.LateAllowance = guard ? 100ms : 175ms;
        return o;
    }

    std::optional<SimProcess> sim_;
    TScanLink link_;
};

// 1 to 3 modules at random addresses and rates, 0 to 2 of them slow (a
// turnaround of their own, 2 to 100 ms), a reply in twenty damaged: each is
// found at its address and rate with its name, a slow one marked slow when
// its first probe could not have heard it, nothing else is found, and
// nothing is written. Without the guard every empty probe waits its
// time-out, so a run probes a few addresses around the modules at their
// rates and one or two others. Four blocks of 25 runs, so that ctest runs
// them beside other tests; Q417_SCAN_SEED=N replays one run.
class ScanRuns : public Scan, public ::testing::WithParamInterface<unsigned>
{
};

TEST_P(ScanRuns, FindEveryModuleAndNothingElse)
{
    constexpr int Window = 8;
    constexpr std::size_t RatesPerRun = 4;
    unsigned first = GetParam(), runs = 25;
    if (const char *seed = std::getenv("Q417_SCAN_SEED")) {
        first = unsigned(std::strtoul(seed, nullptr, 10));
        runs = GetParam() == 1 ? 1 : 0;
    }
    for (unsigned seed = first; seed < first + runs && !HasFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " (replay with Q417_SCAN_SEED)");
        std::mt19937 rng(seed);
        const int base = int(rng() % (256 - Window + 1));
        const std::size_t count = 1 + rng() % 3;
        const std::size_t slow = std::min<std::size_t>(count, rng() % 3);
        std::set<std::pair<int, int>> spots; // address, baud code
        std::set<uint8_t> rates;
        while (spots.size() < count) {
            const int code = int(rng() % BaudCodeCount);
            spots.insert({base + int(rng() % Window), code});
            rates.insert(uint8_t(code));
        }
        while (rates.size() < RatesPerRun)
            rates.insert(uint8_t(rng() % BaudCodeCount));
        std::vector<uint8_t> codes = DefaultScanBaudCodes();
        std::erase_if(codes, [&](uint8_t c) { return !rates.contains(c); });

        std::vector<std::string> args = {"--seed", std::to_string(seed), "--corrupt", "5"};
        std::map<std::pair<int, int>, int> turnaround; // of the slow ones, ms
        char letter = 'A'; // names that differ: SCAN-A00, SCAN-B00, ...
        for (const auto &[address, code] : spots) {
            std::string spec = std::to_string(address) + ":" + std::to_string(code) + ":SCAN-" +
                               letter++ + "00";
            if (turnaround.size() < slow) {
                turnaround[{address, code}] = 2 + int(rng() % 99);
                spec += ":" + std::to_string(turnaround[{address, code}]);
            }
            args.insert(args.end(), {"--module", spec});
        }
        ASSERT_NO_FATAL_FAILURE(Start(args));

        // With the silence guard, which must never take a module for
        // silence nor a damaged reply for one; every tenth run without it.
        const bool guard = seed % 10 != 0;
        const TScanOptions o = Quick(Range(base, Window), codes, guard);
        const TScanResult r = ScanModules(link_, o);
        const auto counts = sim_->StopAndCount(SIGTERM);

        EXPECT_EQ(r.Outcome, TScanOutcome::Done) << int(r.Stage) << " " << int(r.Status);
        std::multiset<std::string> expected, found;
        for (const SimProcess::Module &m : sim_->Modules())
            expected.insert(std::to_string(m.address) + ":" + std::to_string(m.baudCode) + " " +
                            m.name + " v." + m.version);
        for (const TScanFind &f : r.Finds) {
            found.insert(Text(f));
            const auto own = turnaround.find({f.Address, f.BaudCode});
            if (own == turnaround.end())
                continue; // a fast one may be late too on a loaded machine
            // The converter reports silence at once, and without the guard
            // the probe gives up after the margin.
            if (guard || own->second > 25 + 5) {
                EXPECT_TRUE(f.Slow) << Text(f) << " turnaround " << own->second;
            }
            if (f.Slow) {
                EXPECT_GE(f.ReplyTime, std::chrono::milliseconds(own->second)) << Text(f);
            }
        }
        EXPECT_EQ(found, expected);
        ASSERT_TRUE(counts.has_value());
        EXPECT_EQ(counts->write, 0u);
        EXPECT_GE(counts->total, std::size_t(Window) * codes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ScanRuns, ::testing::Values(1u, 26u, 51u, 76u));

// Two modules with different names at one address and rate reach the
// master as damaged replies: reported as a collision after every try, also
// when the names begin alike and only the identity read collides, while a
// neighbour and the same address at another rate are found as usual.
TEST_F(Scan, ModulesSharingAnAddressAndRateAreACollision)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--module", "5:4:ALPHA-01", "--module", "5:4:BRAVO-02",
                                   "--module", "6:4:CHARLY03", "--module", "5:8:DELTA-04",
                                   "--module", "7:4:ECHO-111", "--module", "7:4:ECHO-222"}));
    const TScanResult r = ScanModules(link_, Quick(Range(4, 4), {4, 8}));
    const auto counts = sim_->StopAndCount(SIGTERM);

    EXPECT_EQ(r.Outcome, TScanOutcome::Done);
    EXPECT_EQ(Texts(r), (std::vector<std::string>{"5:4 collision/3", "6:4 CHARLY03 v.1.07",
                                                  "7:4 collision/1", "5:8 DELTA-04 v.1.07"}));
    // 9600 Bd: 4 probes, 2 more at 5, an identity read of 3 at 6 and three
    // that end at their second step at 7; 115200 Bd: 4 probes and an
    // identity read. Nothing else, nothing written.
    ASSERT_TRUE(counts.has_value());
    EXPECT_EQ(counts->total, 22u);
    EXPECT_EQ(counts->write, 0u);
}

TEST_F(Scan, StopsAtTheFirstFindOrWhenProgressSaysSo)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--module", "3:4", "--module", "9:4"}));
    TScanOptions o = Quick(Range(0, 16), {4, 8});
    o.StopAtFirst = true;
    TScanResult r = ScanModules(link_, o);
    EXPECT_EQ(r.Outcome, TScanOutcome::Done);
    EXPECT_EQ(Texts(r), std::vector<std::string>{"3:4 DIO-3232 v.1.07"});

    // Stopped after address 5: what was found stays, nothing more is sent.
    o.StopAtFirst = false;
    std::vector<std::string> seen;
    r = ScanModules(link_, o, {}, [&](const TScanProgress &p) {
        seen.push_back(std::to_string(p.Done) + "/" + std::to_string(p.Total) + " " +
                       std::to_string(p.Found));
        return p.Address != 5;
    });
    EXPECT_EQ(r.Outcome, TScanOutcome::Stopped);
    EXPECT_EQ(Texts(r), std::vector<std::string>{"3:4 DIO-3232 v.1.07"});
    EXPECT_EQ(seen, (std::vector<std::string>{"1/32 0", "2/32 0", "3/32 0", "4/32 1", "5/32 1",
                                              "6/32 1"}));
    const auto counts = sim_->StopAndCount(SIGTERM);
    ASSERT_TRUE(counts.has_value());
    // Each scan: the probes of addresses 0..3 or 0..5 and one identity read.
    EXPECT_EQ(counts->total, (4u + 3u) + (6u + 3u));
}

// With the bus's own timing the probe's time-out is long enough for a
// reply and no longer than the rate needs; the LAN driver takes each
// rate's time-out from a fresh Init.
TEST_F(Scan, EachRateWaitsItsOwnTimeOut)
{
    for (uint8_t code = 0; code < BaudCodeCount; ++code) {
        const auto need =
            bus::ExchangeTime(bus::Rate(code), bus::DefaultTurnaround) + DefaultScanMargin;
        const std::chrono::milliseconds timeout(ProbeTimeoutMs(TScanOptions{}, code));
        EXPECT_TRUE(timeout >= need && timeout < need + 1ms) << int(code);
    }

    ASSERT_NO_FATAL_FAILURE(Start({"--timing", "real", "--module", "1:8", "--module", "1:4"}));
    TScanOptions o;
    o.Addresses = {0, 1, 2};
    o.BaudCodes = {8, 4};
    // The empty probes' excess over their time-outs, held to 100 ms for the
    // fastest of a few scans: a busy machine delays a run now and then, a
    // time-out of the wrong rate every run. The modules are found in every
    // run, a reply the machine made late by a second probe.
    const timing::Runs runs = timing::FastestOf(timing::LongTries, 100ms, [&] {
        std::vector<TModuleStep> probes;
        const TScanResult r = ScanModules(link_, o, [&](const TModuleStep &s) {
            if (s.Total == 1 && s.What.starts_with("hledání modulu"))
                probes.push_back(s);
            return true;
        });
        EXPECT_EQ(Texts(r),
                  (std::vector<std::string>{"1:8 DIO-3232 v.1.07", "1:4 DIO-3232 v.1.07"}));
        EXPECT_EQ(probes.size(), 6u);
        std::chrono::nanoseconds excess{};
        for (std::size_t i = 0; i < probes.size(); ++i) {
            const std::chrono::milliseconds timeout(ProbeTimeoutMs(o, i < 3 ? 8 : 4));
            if (i % 3 == 1) // address 1 answers
                continue;
            EXPECT_EQ(probes[i].Status, Q417_E_TIMEOUT) << i;
            EXPECT_GE(probes[i].Duration, timeout) << i;
            excess = std::max(excess, probes[i].Duration - timeout);
        }
        return excess;
    });
    EXPECT_LE(runs.fastest, 100ms) << runs;
}

// Modules that all turn around in 20 ms, on a bus the finder expects 1 ms
// of (the simulator's --turnaround 20): every probe gives up before its
// reply, yet both are found, each by a second probe at a slow module's
// pace, and marked with how late they answered. Real timing: the late
// window and the re-probe are what is under test, and neither depends on
// how fast this machine is.
TEST_F(Scan, ModulesSlowerThanTheProbesAllowAreFoundAndMarked)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--timing", "real", "--turnaround", "20", "--module", "5:4",
                                   "--module", "9:8"}));
    TScanOptions o;
    o.Addresses = Range(0, 16);
    o.BaudCodes = {4, 8};
    o.Guard = DefaultScanGuardFor(ifLan);
    std::vector<std::string> reprobes;
    const TScanResult r = ScanModules(link_, o, [&](const TModuleStep &s) {
        if (s.Total == 1 && !s.What.starts_with("hledání modulu"))
            reprobes.push_back(s.What);
        return true;
    });
    EXPECT_EQ(r.Outcome, TScanOutcome::Done);
    EXPECT_EQ(Texts(r), (std::vector<std::string>{"5:4 DIO-3232 v.1.07", "9:8 DIO-3232 v.1.07"}));
    EXPECT_EQ(reprobes, (std::vector<std::string>{"ověření pozdní odpovědi: adresa 5, 9600 Bd",
                                                  "ověření pozdní odpovědi: adresa 9, 115200 Bd"}));
    for (const TScanFind &f : r.Finds) {
        EXPECT_TRUE(f.Slow) << Text(f);
        // 19 ms later than a module of 1 ms, whatever the machine adds.
        EXPECT_GE(SlowFindDelayMs(f, o), 19) << Text(f);
        EXPECT_NE(ScanFindNote(f, o).find("odpověď se zpožděním "), std::string::npos);
    }
}

// A slow module among fast ones, last in the range (only the late window
// can hear it) and in its middle (the probes after it hear it), beside a
// fast one between them: each found once, only the slow ones marked.
TEST_F(Scan, ASlowModuleIsFoundWhereverItIsInTheRange)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--module", "2:4::60", "--module", "4:4", "--module",
                                   "7:4:SLOW-007:90", "--module", "7:8"}));
    const TScanResult r = ScanModules(link_, Quick(Range(0, 8), {4, 8}));
    EXPECT_EQ(r.Outcome, TScanOutcome::Done);
    std::vector<std::string> slow;
    for (const TScanFind &f : r.Finds)
        if (f.Slow)
            slow.push_back(Text(f));
    std::vector<std::string> texts = Texts(r);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"2:4 DIO-3232 v.1.07", "4:4 DIO-3232 v.1.07",
                                               "7:4 SLOW-007 v.1.07", "7:8 DIO-3232 v.1.07"}));
    // A fast one may be late too on a loaded machine; the slow ones always are.
    for (const char *t : {"2:4 DIO-3232 v.1.07", "7:4 SLOW-007 v.1.07"})
        EXPECT_NE(std::find(slow.begin(), slow.end(), t), slow.end()) << t;
}

// On a COM port the driver judges silence by the line: with a guard, a
// slow module's first byte is overdue long before it comes. Its second
// probe goes without the guard, on a connection of its own.
TEST_F(Scan, ASlowModuleOnAComPortIsFoundWithTheGuardOn)
{
    simtest::TempDir dir;
    std::optional<SimProcess> sim;
    sim.emplace(SIM_EXE, std::vector<std::string>{"--no-udp", "--link", dir.Path() + "/com",
                                                  "--module", "3:4::40", "--module", "6:4"});
    ASSERT_TRUE(sim->Ready()) << sim->Failure();
    ::setenv("Q417_COM9", sim->Link().c_str(), 1);
    TScanLink com;
    com.Kind = ifCom;
    com.Params[0] = 9;
    TScanOptions o = Quick(Range(0, 8), {4});
    o.Guard = 4ms;
    const TScanResult r = ScanModules(com, o);
    EXPECT_EQ(r.Outcome, TScanOutcome::Done) << int(r.Stage) << " " << int(r.Status);
    EXPECT_EQ(Texts(r), (std::vector<std::string>{"6:4 DIO-3232 v.1.07", "3:4 DIO-3232 v.1.07"}));
    ASSERT_EQ(r.Finds.size(), 2u);
    EXPECT_TRUE(r.Finds[1].Slow);
}

// The in-process module (address 1, baud code 4) through a driver that
// takes the time-out with the rate.
TEST_F(Scan, FindsTheInProcessModule)
{
    TScanLink pci;
    pci.Kind = ifPci;
    const TScanResult r = ScanModules(pci, Quick(Range(0, 8), DefaultScanBaudCodes()));
    EXPECT_EQ(r.Outcome, TScanOutcome::Done) << int(r.Stage) << " " << int(r.Status);
    EXPECT_EQ(Texts(r), std::vector<std::string>{"1:4 DIO-3232 v.1.07"});
}

} // namespace
