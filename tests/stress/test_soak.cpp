// Thousands of exchanges through the program's binding and the LAN or COM
// driver against the simulator that drops, duplicates, delays and corrupts
// 20 % of its replies each. No wrong answer may pass for a good one, every
// failed exchange must carry a driver error with its text, and no exchange
// may outlast the time-out. KORVAL_SOAK_EXCHANGES sets the length per link
// (default 600, the CI run); KORVAL_SOAK_SEED the simulator's seed.
#include "Session.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <set>

namespace {

using namespace std::chrono_literals;
using simtest::SimProcess;
using simtest::TempDir;

enum class Link { Lan, Com };

constexpr int32_t TimeoutMs = 50;
// Replies held back longer than the time-out turn up in a later exchange:
// the case where a stale answer could be taken for the current one.
constexpr const char *DelayMs = "80";
// What a loaded (or sanitized) machine may add to a time-out.
constexpr auto Slack = 250ms;
constexpr uint32_t FixedInputs = 0x1234ABCD;
constexpr uint8_t SoakRegister = RegDoutNegation(0);

long EnvOr(const char *name, long fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

class Soak : public ::testing::TestWithParam<Link> {
protected:
    void Start()
    {
        std::vector<std::string> args = {
            "--seed",   std::to_string(EnvOr("KORVAL_SOAK_SEED", 7417)),
            "--inputs", "fixed:1234ABCD",
            "--drop",   "20",
            "--duplicate", "20",
            "--corrupt", "20",
            "--delay",  std::string("20:") + DelayMs,
            "--module", "1:8"}; // at 115200 Bd, the rate configured below
        if (GetParam() == Link::Lan)
            args.insert(args.end(), {"--udp-port", "0"});
        else
            args.insert(args.end(), {"--no-udp", "--link", dir_.Path() + "/com"});
        sim_.emplace(SIM_EXE, args);
        ASSERT_TRUE(sim_->Ready()) << sim_->Failure();
        if (GetParam() == Link::Lan) {
            ASSERT_EQ(s_.OpenLan("127.0.0.1", sim_->UdpPort(), TimeoutMs), 0);
        } else {
            ::setenv("Q417_COM6", sim_->Link().c_str(), 1);
            ASSERT_EQ(s_.OpenCom(6), 0);
        }
        ASSERT_EQ(s_.Configure(115200, TimeoutMs), 0);
    }

    TempDir dir_;
    std::optional<SimProcess> sim_;
    Session s_{GetParam() == Link::Lan ? ifLan : ifCom};
};

std::array<uint8_t, 4> Chars(const std::string &s, std::size_t from)
{
    return {uint8_t(s[from]), uint8_t(s[from + 1]), uint8_t(s[from + 2]), uint8_t(s[from + 3])};
}

TEST_P(Soak, NoWrongAnswerAndEveryLossReported)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(sim_->Modules().size(), 1u);
    const SimProcess::Module &m = sim_->Modules()[0];
    const uint8_t addr = uint8_t(m.address);
    const long total = EnvOr("KORVAL_SOAK_EXCHANGES", 600);

    // The register's possible values: a write whose reply was lost may or
    // may not have reached the module. Empty until first read or written.
    std::set<uint8_t> reg;
    std::map<int, long> errors;
    long good = 0;
    auto longest = 0ms;

    for (long i = 0; i < total; ++i) {
        // The X byte travels out and back: a reply to another request
        // shows as a wrong X as well as a wrong answer.
        const uint8_t x = uint8_t(i * 37 + 11);
        const uint8_t value = uint8_t(i * 101 + 3);
        const int kind = int(i % 7);
        Answer a;
        std::array<uint8_t, 4> expected{};
        const auto took = Elapsed([&] {
            switch (kind) {
            case 0:
            case 1:
                a = s_.Call(addr, CmdReadIdentity, uint8_t(kind), x);
                expected = Chars(m.name, 4 * std::size_t(kind));
                break;
            case 2:
                a = s_.Call(addr, CmdReadIdentity, 2, x);
                expected = Chars(m.version, 0);
                break;
            case 3:
                a = s_.Call(addr, CmdReadInputs, SubChannels, x);
                expected = Bytes(FixedInputs);
                break;
            case 4:
                a = s_.Call(addr, CmdReadRegister, SubNone, x, {RegAddress, RegAddress, 0, 0});
                expected = {RegAddress, RegAddress, addr, addr};
                break;
            case 5:
                a = s_.Call(addr, CmdWriteRegister, SubNone, x,
                            {SoakRegister, SoakRegister, value, value});
                expected = {SoakRegister, SoakRegister, value, value};
                break;
            case 6:
                a = s_.Call(addr, CmdReadRegister, SubNone, x, {SoakRegister, SoakRegister, 0, 0});
                break;
            }
        });
        longest = std::max(longest, took);
        ASSERT_LE(took, std::chrono::milliseconds(TimeoutMs) + Slack) << "exchange " << i;

        if (a.status != 0) {
            // Only what the faults can cause, each with the driver's text.
            ASSERT_TRUE(a.status == Q417_E_TIMEOUT || a.status == Q417_E_CRC ||
                        a.status == Q417_E_FRAME)
                << "exchange " << i << " status " << int(a.status);
            ASSERT_FALSE(s_.Text(a.status).empty()) << "status " << int(a.status);
            EXPECT_EQ(a.x, 0);
            EXPECT_EQ(a.d, (std::array<uint8_t, 4>{}));
            ++errors[a.status];
            if (kind == 5 && !reg.empty())
                reg.insert(value);
            continue;
        }
        ++good;
        ASSERT_EQ(a.x, x) << "exchange " << i;
        if (kind == 6) {
            ASSERT_EQ(a.d[0], SoakRegister) << "exchange " << i;
            ASSERT_EQ(a.d[2], a.d[3]) << "exchange " << i;
            ASSERT_TRUE(reg.empty() || reg.count(a.d[2])) << "exchange " << i << " read " << int(a.d[2]);
            reg = {a.d[2]};
        } else {
            ASSERT_EQ(a.d, expected) << "exchange " << i << " kind " << kind;
            if (kind == 5)
                reg = {value};
        }
    }

    long failed = 0;
    std::string summary;
    for (const auto &[code, n] : errors) {
        failed += n;
        summary += " status " + std::to_string(code) + ": " + std::to_string(n) + " (" +
                   s_.Text(uint32_t(code)) + ")";
    }
    std::cout << "soak " << (GetParam() == Link::Lan ? "LAN" : "COM") << ": " << total
              << " exchanges, " << good << " answered, " << failed << " failed," << summary
              << "; longest " << longest.count() << " ms\n";
    // The faults did happen, and most exchanges still got through.
    EXPECT_GT(failed, total / 10);
    EXPECT_GT(good, total / 3);
}

INSTANTIATE_TEST_SUITE_P(Faults, Soak, ::testing::Values(Link::Lan, Link::Com),
                         [](const auto &p) { return p.param == Link::Lan ? "Lan" : "Com"; });

} // namespace
