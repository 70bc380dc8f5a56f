// The module finder against the simulator through the LAN driver, and
// against the in-process module of kind 2.
#include "BusTiming.h"
#include "Qxxx417.h"
#include "Scan.h"
#include "SimProcess.h"
#include "q417drv.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <numeric>
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
    // The simulator answers within a millisecond, but a suite run beside a
    // compiler can keep it from the processor for longer: the margin must
    // not turn that into a module missed. With the guard the simulator
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
        return o;
    }

    std::optional<SimProcess> sim_;
    TScanLink link_;
};

// 1 to 3 modules at random addresses and rates, a reply in twenty damaged:
// each is found at its address and rate with its name, nothing else is
// found, and nothing is written. Without the guard every empty probe waits
// its time-out, so a run probes a few addresses around the modules at their
// rates and one or two others. Q417_SCAN_SEED=N replays one run.
TEST_F(Scan, FindsEveryModuleAndNothingElse)
{
    constexpr int Window = 8;
    constexpr std::size_t RatesPerRun = 4;
    unsigned first = 1, runs = 100;
    if (const char *seed = std::getenv("Q417_SCAN_SEED")) {
        first = unsigned(std::strtoul(seed, nullptr, 10));
        runs = 1;
    }
    for (unsigned seed = first; seed < first + runs && !HasFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " (replay with Q417_SCAN_SEED)");
        std::mt19937 rng(seed);
        const int base = int(rng() % (256 - Window + 1));
        const std::size_t count = 1 + rng() % 3;
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
        char letter = 'A'; // names that differ: SCAN-A00, SCAN-B00, ...
        for (const auto &[address, code] : spots)
            args.insert(args.end(),
                        {"--module", std::to_string(address) + ":" + std::to_string(code) +
                                         ":SCAN-" + letter++ + "00"});
        ASSERT_NO_FATAL_FAILURE(Start(args));

        // With the silence guard, which must never take a module for
        // silence nor a damaged reply for one; every tenth run without it.
        const TScanResult r = ScanModules(link_, Quick(Range(base, Window), codes, seed % 10 != 0));
        const auto counts = sim_->StopAndCount(SIGTERM);

        EXPECT_EQ(r.Outcome, TScanOutcome::Done) << int(r.Stage) << " " << int(r.Status);
        std::multiset<std::string> expected, found;
        for (const SimProcess::Module &m : sim_->Modules())
            expected.insert(std::to_string(m.address) + ":" + std::to_string(m.baudCode) + " " +
                            m.name + " v." + m.version);
        for (const TScanFind &f : r.Finds)
            found.insert(Text(f));
        EXPECT_EQ(found, expected);
        ASSERT_TRUE(counts.has_value());
        EXPECT_EQ(counts->write, 0u);
        EXPECT_GE(counts->total, std::size_t(Window) * codes.size());
    }
}

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
    std::vector<TModuleStep> probes;
    const TScanResult r = ScanModules(link_, o, [&](const TModuleStep &s) {
        if (s.Total == 1)
            probes.push_back(s);
        return true;
    });
    EXPECT_EQ(Texts(r), (std::vector<std::string>{"1:8 DIO-3232 v.1.07", "1:4 DIO-3232 v.1.07"}));
    ASSERT_EQ(probes.size(), 6u);
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const std::chrono::milliseconds timeout(ProbeTimeoutMs(o, i < 3 ? 8 : 4));
        if (i % 3 == 1) // address 1 answers
            continue;
        EXPECT_EQ(probes[i].Status, Q417_E_TIMEOUT) << i;
        EXPECT_GE(probes[i].Duration, timeout) << i;
        EXPECT_LT(probes[i].Duration, timeout + 100ms) << i;
    }
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
