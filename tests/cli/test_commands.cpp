// korvalctl's commands in-process against the fake driver, which fails or
// answers wrongly at exactly the exchange a test names.
#include "FakeCommands.h"
#include "Qxxx417.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using Commands = fakecli::FakeCommands;

TEST_F(Commands, ConnectsWithTheParametersOfTheConnectionDialog)
{
    fake_state *lan = Hold("QLX1417.DLL");
    ASSERT_NE(lan, nullptr);
    ASSERT_EQ(Invoke({"-i", "lan", "--ip", "127.0.0.1", "--udp-port", "5123", "--timeout", "1500",
                      "-b", "19200", "info"}),
              0)
        << err;
    EXPECT_STREQ(lan->init_ip_text, "127.0.0.1");
    EXPECT_EQ(lan->init_params[1], 5123);
    EXPECT_EQ(lan->init_params[2], 1500);
    // The rate, its reply time-out and the dialog's 2.
    EXPECT_EQ(lan->setconfig_args[1], 19200);
    EXPECT_EQ(lan->setconfig_args[2], 150);
    EXPECT_EQ(lan->setconfig_args[3], 2);
    EXPECT_STREQ(lan->log, "Init SetConfig Send Send Send Done");
    fakeload::Release(other);

    for (const char *base : {"2A0", "0x2a0", "2A0h"}) {
        fake_state *isa = Hold("QPCI417.DLL");
        ASSERT_NE(isa, nullptr);
        EXPECT_EQ(Invoke({"-i", "isa", "--base", base, "info"}), 0) << base << err;
        EXPECT_EQ(isa->init_param, 0x2A0) << base;
        fakeload::Release(other);
    }
    other = nullptr;
}

fake_reply Value(uint8_t v)
{
    return {0, 0, 0, {0, 0, v, v}};
}
const fake_reply Failure{0, 5, 0, {}};

// address=5 dout-init.0=1: reads of registers 63 and 32, then write and
// read-back of each.
const std::vector<fake_reply> GoodSet = {Value(7), Value(0), Value(5),
                                         Value(5), Value(1), Value(1)};

TEST_F(Commands, AFailingStepAnywhereInAConfigWriteStopsThereAndSaysWhere)
{
    for (std::size_t at = 0; at < GoodSet.size(); ++at) {
        SCOPED_TRACE(at);
        Reset();
        std::vector<fake_reply> replies = GoodSet;
        replies[at] = Failure;
        Script(replies);
        EXPECT_EQ(Invoke({"config", "set", "address=5", "dout-init.0=1"}), 1);
        EXPECT_EQ(fake->send_count, int32_t(3 + at + 1)) << "nothing sent after the failure";
        EXPECT_NE(err.find("fake error 5"), std::string::npos) << err;
        const std::size_t step = at < 2 ? at + 1 : at - 1;
        EXPECT_NE(err.find("krok " + std::to_string(step) + "/"), std::string::npos) << err;
        if (at < 2) {
            EXPECT_NE(err.find("Nic nebylo zapsáno"), std::string::npos) << err;
        } else if (at >= 4) {
            EXPECT_NE(err.find("ověřeny registry: 63."), std::string::npos) << err;
        }
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(DoneLast()) << fake->log;
    }
}

TEST_F(Commands, AWriteReadBackOtherwiseEndsWithThreeNamingTheRegister)
{
    std::vector<fake_reply> replies = GoodSet;
    replies[5] = Value(0); // register 32 keeps its old value
    Script(replies);
    EXPECT_EQ(Invoke({"config", "set", "address=5", "dout-init.0=1"}), 3);
    EXPECT_NE(err.find("kontrola registru 32"), std::string::npos) << err;
    EXPECT_NE(err.find("ověřeny registry: 63."), std::string::npos) << err;
    EXPECT_EQ(fake->send_count, 9);
    EXPECT_TRUE(DoneLast()) << fake->log;
}

TEST_F(Commands, ABitChangeWritesTheRegisterWithItsOtherBitsKept)
{
    Script({Value(0xA0), Value(0xA8), Value(0xA8)});
    ASSERT_EQ(Invoke({"config", "set", "din-negation.11=1"}), 0) << err;
    // Read register 36 (channels 8-15), then write 0xA8 to it.
    EXPECT_EQ(fake->requests[3][4], 36);
    EXPECT_EQ(fake->requests[4][1], 103);
    EXPECT_EQ(fake->requests[4][4], 36);
    EXPECT_EQ(fake->requests[4][6], 0xA8);
}

TEST_F(Commands, StatusNamesTheBitsAsTheStatusWindow)
{
    Script({{0, 0, 0, {0x72, 0, 0x01, 0}}});
    ASSERT_EQ(Invoke({"status", "--json"}), 0) << err;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["status"], 0x010072);
    EXPECT_EQ(j["flags"], nlohmann::json::parse(R"({"FN":1,"PRF":0,"PWR":1,"RST":1,"ERR24":1})"));
    EXPECT_EQ(j["bits"][16], 1);
}

TEST_F(Commands, WalkWrapsAfterDout31AndLeavesTheOutputsOff)
{
    fake->send_x = 0; // every exchange passes
    ASSERT_EQ(Invoke({"walk", "--count", "33", "--interval", "10"}), 0) << err;
    ASSERT_EQ(fake->send_count, 3 + 33 + 1);
    auto word = [&](int n) {
        const int32_t *r = fake->requests[n];
        return uint32_t(r[4]) | uint32_t(r[5]) << 8 | uint32_t(r[6]) << 16 | uint32_t(r[7]) << 24;
    };
    EXPECT_EQ(word(3), 1u);
    EXPECT_EQ(word(3 + 31), 0x80000000u);
    EXPECT_EQ(word(3 + 32), 1u);
    EXPECT_EQ(word(3 + 33), 0u);
    EXPECT_TRUE(DoneLast()) << fake->log;
}

// A register that already holds its value is read, shown and not written.
TEST_F(Commands, ConfigSetWritesOnlyTheRegistersThatChange)
{
    // address=7 is what register 63 holds; dout-init.0=1 changes 32.
    Script({Value(7), Value(0), Value(1), Value(1)});
    ASSERT_EQ(Invoke({"config", "set", "address=7", "dout-init.0=1", "--json"}), 0) << err;
    EXPECT_EQ(fake->send_count, 3 + 2 + 2);
    EXPECT_EQ(fake->requests[5][1], 103);
    EXPECT_EQ(fake->requests[5][4], 32);
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["registers"][0]["written"], false);
    EXPECT_EQ(j["registers"][1]["written"], true);
    EXPECT_EQ(j["restart_required"], false) << "the address did not change";

    // Nothing to change: nothing written.
    Reset();
    Script({Value(1)});
    ASSERT_EQ(Invoke({"config", "set", "dout-init.0=1"}), 0) << err;
    EXPECT_EQ(fake->send_count, 3 + 1);
    EXPECT_NE(out.find("Beze změny, nezapsáno: registr 32"), std::string::npos) << out;
    EXPECT_EQ(out.find("Zapsáno"), std::string::npos) << out;
}

// Raises a signal in the middle of a run, right after the exchange numbered
// RaiseAt, as Ctrl+C or a closed terminal would.
int RaiseAt = 0;
void RaiseAfter(const char *entry, int32_t, const int32_t *, const int32_t *)
{
    if (std::string(entry) == "Send" && --RaiseAt == 0)
        ::raise(SIGINT);
}

// Ctrl+C never leaves a register written but unchecked: after a write the
// read-back still goes out, then the write stops.
TEST_F(Commands, CtrlCDuringConfigSetStopsOnlyAfterAReadBack)
{
    environment.HandleSignals = true;
    // Exchanges 4 and 5 read 63 and 32, 6 and 7 write and check 63, 8 and 9
    // 32: {Ctrl+C after, exchanges sent, exit}.
    const std::array<int, 3> cases[] = {{5, 7, 130}, {6, 7, 130}, {7, 7, 130}, {8, 9, 0}};
    for (const auto &[at, sent, exit] : cases) {
        SCOPED_TRACE(at);
        Reset();
        Script(GoodSet);
        fake->on_answer = RaiseAfter;
        RaiseAt = at;
        EXPECT_EQ(Invoke({"config", "set", "address=5", "dout-init.0=1"}), exit) << err;
        EXPECT_EQ(fake->send_count, sent);
        EXPECT_EQ(fake->requests[sent - 1][1], CmdReadRegister) << "the last is a read-back";
        if (exit != 0) {
            EXPECT_NE(err.find("ověřeny registry: 63."), std::string::npos) << err;
        }
        EXPECT_TRUE(DoneLast()) << fake->log;
    }
    fake->on_answer = nullptr;
}

// The clock of a run, moved by the exchanges and the waits alone.
struct TestClock {
    std::chrono::steady_clock::time_point now{};
    std::chrono::milliseconds exchange{};
    std::vector<std::chrono::steady_clock::time_point> writes, reads;
};
TestClock Clock;
void TakeTime(const char *entry, int32_t, const int32_t *request, const int32_t *)
{
    if (std::string(entry) != "Send")
        return;
    if (request[1] == CmdWriteOutputs)
        Clock.writes.push_back(Clock.now);
    if (request[1] == CmdReadInputs)
        Clock.reads.push_back(Clock.now);
    Clock.now += Clock.exchange;
}

class Paced : public Commands
{
  protected:
    void SetUp() override
    {
        Commands::SetUp();
        Clock = TestClock{};
        environment.Now = [] { return Clock.now; };
        environment.WaitUntil = [this](std::chrono::steady_clock::time_point until) {
            Clock.now = std::max(Clock.now, until);
            return ++waits != stopAfter;
        };
    }
    void Start(std::chrono::milliseconds exchange)
    {
        Reset();
        Clock = TestClock{};
        Clock.exchange = exchange;
        fake->on_answer = TakeTime;
        waits = 0;
    }
    void TearDown() override
    {
        fake->on_answer = nullptr;
        Commands::TearDown();
    }
    static std::vector<long> Gaps(const std::vector<std::chrono::steady_clock::time_point> &t)
    {
        std::vector<long> gaps;
        for (std::size_t i = 1; i < t.size(); ++i)
            gaps.push_back(long(
                std::chrono::duration_cast<std::chrono::milliseconds>(t[i] - t[i - 1]).count()));
        return gaps;
    }
    int waits = 0, stopAfter = -1;
};

// --interval is a step's period, start to start: the exchange's own time is
// part of it, and a step slower than the period is followed at once.
TEST_F(Paced, WalkStepsStartAnIntervalApart)
{
    Start(std::chrono::milliseconds(70));
    ASSERT_EQ(Invoke({"walk", "--count", "4", "--interval", "100"}), 0) << err;
    // Four steps, then the off write a period after the last began.
    EXPECT_EQ(Gaps(Clock.writes), (std::vector<long>{100, 100, 100, 100}));

    Start(std::chrono::milliseconds(150));
    ASSERT_EQ(Invoke({"walk", "--count", "3", "--interval", "100"}), 0) << err;
    EXPECT_EQ(Gaps(Clock.writes), (std::vector<long>{150, 150, 150}));
}

TEST_F(Paced, WatchReadsAnIntervalApartAndShowsTheBitsAsTheWordReads)
{
    Start(std::chrono::milliseconds(30));
    fake->send_reply[0] = 3;
    stopAfter = 3;
    ASSERT_EQ(Invoke({"inputs", "--watch", "--interval", "50"}), 0) << err;
    EXPECT_EQ(Gaps(Clock.reads), (std::vector<long>{50, 50}));
    // One line for the first reading; the others are the same.
    EXPECT_NE(out.find("0x00000003  00000000 00000000 00000000 00000011\n"), std::string::npos)
        << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

// A failed reading is told once; the value after it is shown again, as the
// person watching cannot know it did not change meanwhile.
TEST_F(Paced, AWatchShowsTheValueAgainAfterAFailedReading)
{
    Start(std::chrono::milliseconds(1));
    Script({{0, 0, 0, {3, 0, 0, 0}}, {0, 5, 0, {}}, {0, 0, 0, {3, 0, 0, 0}}});
    stopAfter = 3;
    ASSERT_EQ(Invoke({"inputs", "--watch", "--interval", "50", "--json"}), 0) << err;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    EXPECT_NE(err.find("fake error 5"), std::string::npos) << err;
}

// A failed step is reported as failed, the walk goes on and ends with 1.
TEST_F(Paced, AWalkStepThatFailsIsReportedAndTheWalkGoesOn)
{
    Start(std::chrono::milliseconds(1));
    Script({{0, 5, 0, {}}, {}, {}});
    fake->send_status = 0;
    const std::string trace = (fakecli::fs::temp_directory_path() /
                               ("korval-trace-" + std::to_string(::getpid()) + ".csv"))
                                  .string();
    EXPECT_EQ(Invoke({"walk", "--count", "2", "--interval", "10", "--json", "--trace", trace,
                      "--trace-format", "csv"}),
              1);
    EXPECT_EQ(fake->send_count, 3 + 2 + 1);
    std::istringstream lines(out);
    std::vector<nlohmann::json> steps;
    for (std::string line; std::getline(lines, line);)
        steps.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(steps.size(), 2u) << out;
    EXPECT_EQ(steps[0]["ok"], false);
    EXPECT_EQ(steps[1]["ok"], true);
    EXPECT_EQ(steps[1]["channel"], 1);
    EXPECT_NE(err.find("zápis výstupů = 0x00000001) selhal: fake error 5"), std::string::npos)
        << err;
    // The trace keeps the failed exchange in its place, with its status.
    std::ifstream in(trace);
    std::vector<std::string> rows;
    for (std::string row; std::getline(in, row);)
        rows.push_back(row);
    std::remove(trace.c_str());
    ASSERT_EQ(rows.size(), 1u + 3 + 2 + 1);
    EXPECT_NE(rows[4].find(",5,fake error 5,0,zápis výstupů = 0x00000001"), std::string::npos)
        << rows[4];
    EXPECT_NE(rows[5].find(",0,fake error 0,0,zápis výstupů = 0x00000002"), std::string::npos)
        << rows[5];

    // Text: the failed step marked.
    Start(std::chrono::milliseconds(1));
    Script({{0, 5, 0, {}}, {}, {}});
    fake->send_status = 0;
    EXPECT_EQ(Invoke({"walk", "--count", "2", "--interval", "10"}), 1);
    EXPECT_NE(out.find("DOUT0   0x00000001  chyba\n"), std::string::npos) << out;
    EXPECT_NE(out.find("DOUT1   0x00000002\n"), std::string::npos) << out;
}

// The one exchange of a run that failed is the one a trace must show.
TEST_F(Commands, TheTraceKeepsTheLineOfAFailedExchange)
{
    const std::string trace = (fakecli::fs::temp_directory_path() /
                               ("korval-trace-" + std::to_string(::getpid()) + ".txt"))
                                  .string();
    fake->send_status = 5;
    EXPECT_EQ(Invoke({"--trace", trace, "info"}), 1);
    std::ifstream in(trace);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(trace.c_str());
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1) << all;
    EXPECT_NE(all.find("  5 fake error 5"), std::string::npos) << all;
    EXPECT_NE(all.find("čtení názvu modulu (1-4)"), std::string::npos) << all;
}

// A driver failure in the middle of a scan ends it there: exit 1, the step
// named, the finds before it printed all the same, the driver closed.
TEST_F(Commands, ADriverFailureEndsAScanWithTheFindsSoFar)
{
    // At 9600 Bd the probe and the identity read pass; at 19200 Bd the
    // probe fails as no module could make it fail.
    Script({{0, 0, 0, {'A', 'B', 'C', 'D'}}});
    EXPECT_EQ(Invoke({"scan", "--rates", "9600,19200", "--json"}), 1);
    EXPECT_EQ(fake->send_count, 5);
    EXPECT_NE(err.find("hledání modulu: adresa 7, 19200 Bd"), std::string::npos) << err;
    EXPECT_NE(err.find("fake error 9"), std::string::npos) << err;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["outcome"], "driver_error");
    EXPECT_EQ(j["error"]["stage"], "probe");
    ASSERT_EQ(j["finds"].size(), 1u);
    EXPECT_EQ(j["finds"][0]["baud_rate"], 9600);
    EXPECT_TRUE(DoneLast()) << fake->log;
}

} // namespace
