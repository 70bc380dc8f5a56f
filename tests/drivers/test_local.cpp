// The in-process drivers (ISA, PCI, USB) through the program's binding:
// each holds one simulated module at address 1.
#include "FakeLoader.h"
#include "Session.h"
#include "BusTiming.h"
#include "SimModule.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// The drivers read their timing from the environment at Init.
void SetEnv(const char *name, const char *value)
{
#ifdef _WIN32
    _putenv_s(name, value);
#else
    ::setenv(name, value, 1);
#endif
}

class InProcess : public ::testing::TestWithParam<uint8_t> {
protected:
    void SetUp() override
    {
        SetEnv("Q417_TIMING", "none"); // none of these is about time
        ASSERT_EQ(s_.OpenPlain(), 0);
        ASSERT_EQ(s_.Configure(9600, 250), 0);
    }
    Session s_{GetParam()};
};

TEST_P(InProcess, AnswersWithTheModuleIdentity)
{
    const SimModule::Identity id = SimModule::DefaultIdentity();
    const std::string expected = std::string(id.name.begin(), id.name.end()) + ' ' +
                                 std::string(id.version.begin(), id.version.end());
    EXPECT_EQ(s_.Identity(1), expected);
}

TEST_P(InProcess, RegisterWriteReadsBackAndRefusalsArriveAsModuleStatus)
{
    EXPECT_EQ(s_.WriteRegister(1, RegDinNegation(2), 0x3C).status, 0);
    const Answer a = s_.ReadRegister(1, RegDinNegation(2));
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.d[2], 0x3C);
    // The module's refusals complete the exchange and keep their own codes.
    EXPECT_EQ(s_.ReadRegister(1, 50).status, Q417_E_MOD_REG);
    EXPECT_EQ(s_.Call(1, CmdWriteRegister, SubNone, 0, {33, 34, 1, 1}).status, Q417_E_MOD_COPY);
    EXPECT_EQ(s_.Call(1, 77, SubNone).status, Q417_E_MOD_CMD);
}

TEST_P(InProcess, OutputsComeBackOnTheInputs)
{
    const uint32_t pattern = 0xA50F3C81;
    EXPECT_EQ(s_.Call(1, CmdWriteOutputs, SubChannels, 0, Bytes(pattern)).status, 0);
    const Answer in = s_.Call(1, CmdReadInputs, SubChannels);
    EXPECT_EQ(in.status, 0);
    EXPECT_EQ(Word(in.d), pattern);
}

TEST_P(InProcess, NoModuleAtAnotherAddress)
{
    Answer a;
    const auto took = Elapsed([&] { a = s_.Call(2, CmdReadIdentity, 0); });
    EXPECT_EQ(a.status, Q417_E_TIMEOUT);
    EXPECT_LT(took.count(), 250);
    EXPECT_EQ(s_.Text(a.status), "modul neodpovídá (vypršel časový limit)");
}

// The module keeps its state across connections while the library stays
// loaded, and starts afresh once the program has unloaded it.
TEST_P(InProcess, ModuleStateLastsAsLongAsTheLibrary)
{
    const char *names[] = {"", "QPCI417.DLL", "QPCI1417.DLL", "QUSB1417.DLL"};
    const std::string file = std::string(DRIVER_DIR) + "/" + fakeload::FileName(names[GetParam()]);
    ASSERT_EQ(s_.WriteRegister(1, RegDoutInitState(0), 0x81).status, 0);

    // An extra reference holds the library over a Done and a new Init.
    fakeload::Handle pin = fakeload::IfLoaded(file);
    ASSERT_NE(pin, nullptr);
    s_.Close();
    ASSERT_EQ(s_.OpenPlain(), 0);
    EXPECT_EQ(s_.ReadRegister(1, RegDoutInitState(0)).d[2], 0x81);
    s_.Close();
    fakeload::Release(pin);

    ASSERT_EQ(s_.OpenPlain(), 0);
    EXPECT_EQ(s_.ReadRegister(1, RegDoutInitState(0)).d[2], 0x00);
}

INSTANTIATE_TEST_SUITE_P(Kinds, InProcess, ::testing::Values(ifIsa, ifPci, ifUsb),
                         [](const auto &p) { return "Kind" + std::to_string(p.param); });

using namespace std::chrono_literals;
using timing::Took;
using timing::Us;
using Ms = std::chrono::milliseconds;

// What a shared machine may add to the fastest of a few exchanges
// (Timing.h); less than one more exchange at 9600 Bd, so a wire time
// counted twice fails as surely as none.
constexpr Us Slack = 15ms;
constexpr int Tries = timing::ShortTries;

// The bus's time, as the program meets it: the driver reads Q417_TIMING and
// Q417_TURNAROUND_MS at Init.
class InProcessTiming : public ::testing::Test {
protected:
    void Open(const char *timing, const char *turnaroundMs = "1", int32_t guardUs = 0)
    {
        s_.Close();
        SetEnv("Q417_TIMING", timing);
        SetEnv("Q417_TURNAROUND_MS", turnaroundMs);
        s_.SetGuard(guardUs);
        ASSERT_EQ(s_.OpenPlain(), 0);
    }
    Session s_{ifUsb};
};

TEST_F(InProcessTiming, AnExchangeTakesItsWireTimeOnce)
{
    for (const char *turnaround : {"1", "10"}) {
        ASSERT_NO_FATAL_FAILURE(Open("real", turnaround));
        // Before any SetConfig the bus runs at 9600 Bd, the module's rate.
        const Us floor =
            std::chrono::duration_cast<Us>(bus::ExchangeTime(9600, Ms(std::atoi(turnaround))));
        const timing::Runs runs = timing::FastestOf(Tries, floor + Slack, [&] {
            Answer a;
            const Us took = Took([&] { a = s_.Call(1, CmdReadStatus, SubNone); });
            EXPECT_EQ(a.status, 0);
            EXPECT_GE(took, floor) << "turnaround " << turnaround;
            return took;
        });
        EXPECT_LE(runs.fastest, floor + Slack) << "turnaround " << turnaround << ", " << runs;
    }
}

TEST_F(InProcessTiming, AModuleAtAnotherRateIsSilentUntilTheMasterMatchesIt)
{
    constexpr int32_t TimeoutMs = 60;
    ASSERT_NO_FATAL_FAILURE(Open("real"));
    ASSERT_EQ(s_.Configure(19200, TimeoutMs), 0);
    timing::Runs runs = timing::FastestOf(Tries, Ms(TimeoutMs) + Slack, [&] {
        Answer a;
        const Us took = Took([&] { a = s_.Call(1, CmdReadIdentity, 0); });
        EXPECT_EQ(a.status, Q417_E_TIMEOUT);
        EXPECT_GE(took, Ms(TimeoutMs)) << "silence lasts the time-out";
        return took;
    });
    EXPECT_LE(runs.fastest, Ms(TimeoutMs) + Slack) << runs;

    // No module runs at 14400 Bd: refused as the COM driver refuses it, and
    // 19200 Bd stays in force.
    EXPECT_EQ(s_.Configure(14400, TimeoutMs), Q417_E_RATE);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    ASSERT_EQ(s_.Configure(9600, TimeoutMs), 0);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, 0);

    // Without timing the rates still have to match; only the wait goes.
    ASSERT_NO_FATAL_FAILURE(Open("none"));
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, 0) << "a new Init starts at 9600 Bd";
    ASSERT_EQ(s_.Configure(115200, TimeoutMs), 0);
    runs = timing::FastestOf(Tries, Ms(TimeoutMs / 2), [&] {
        Answer a;
        const Us took = Took([&] { a = s_.Call(1, CmdReadIdentity, 0); });
        EXPECT_EQ(a.status, Q417_E_TIMEOUT);
        return took;
    });
    EXPECT_LE(runs.fastest, Ms(TimeoutMs / 2)) << runs;
}

// With a silence guard an empty address costs the request, the turnaround,
// one byte and the guard; a module that answers takes its whole exchange
// as before.
TEST_F(InProcessTiming, AGuardEndsSilenceWhenTheFirstByteIsOverdue)
{
    constexpr int32_t TimeoutMs = 80;
    constexpr Us Guard{300};
    ASSERT_NO_FATAL_FAILURE(Open("real", "1", int32_t(Guard.count())));
    for (int32_t bd : {9600, 115200}) {
        ASSERT_EQ(s_.Configure(uint32_t(bd), TimeoutMs), 0);
        // 9600 Bd: 14.8 ms against 25 ms for a reply, so the upper bound
        // also fails a wait for the whole reply time.
        const Us due = std::chrono::ceil<Us>(bus::FirstByteTime(bd, 1ms)) + Guard;
        const timing::Runs runs = timing::FastestOf(Tries, due + 5ms, [&] {
            Answer a;
            const Us took = Took([&] { a = s_.Call(9, CmdReadIdentity, 0); });
            EXPECT_EQ(a.status, Q417_E_TIMEOUT) << bd;
            EXPECT_GE(took, due) << bd;
            return took;
        });
        EXPECT_LE(runs.fastest, due + 5ms) << bd << " Bd, " << runs;
    }
    ASSERT_EQ(s_.Configure(9600, TimeoutMs), 0);
    Answer a;
    const Us took = Took([&] { a = s_.Call(1, CmdReadStatus, SubNone); });
    EXPECT_EQ(a.status, 0);
    EXPECT_GE(took, std::chrono::ceil<Us>(bus::ExchangeTime(9600, 1ms)));
}

// The model knows when its module's reply would have come: one too late for
// the time-out is a late reply at that moment, exactly its wire time after
// the request. With nothing on its way, listening ends at once.
TEST_F(InProcessTiming, AReplyTooLateForTheTimeOutArrivesWhenTheBusWouldHaveCarriedIt)
{
    ASSERT_NO_FATAL_FAILURE(Open("real", "60"));
    ASSERT_EQ(s_.Configure(9600, 30), 0);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    const std::vector<TLateReply> late = s_.Late(10000);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].Address, 1);
    EXPECT_EQ(late[0].Rate, 9600u);
    EXPECT_EQ(late[0].After,
              std::chrono::duration_cast<Us>(bus::ExchangeTime(9600, std::chrono::milliseconds(60))));
    Us took = Took([&] { EXPECT_TRUE(s_.Late(10000).empty()); });
    EXPECT_LT(took, 5000ms) << "nothing on its way: no wait";

    ASSERT_EQ(s_.Configure(9600, 200), 0);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, 0);
    EXPECT_TRUE(s_.Late(0).empty()) << "a reply taken is not late";

    // More than one call's records: 40 late replies come in three calls,
    // none lost.
    ASSERT_NO_FATAL_FAILURE(Open("real", "60"));
    ASSERT_EQ(s_.Configure(9600, 1), 0);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    // The model's clock is the wall clock: once 85 ms have passed, all 40
    // have arrived.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(s_.Late(0).size(), std::size_t(Q417_LATE_MAX));
    EXPECT_EQ(s_.Late(0).size(), 40u - Q417_LATE_MAX);

    // Listening ends when its wait does, also with a reply on its way.
    ASSERT_NO_FATAL_FAILURE(Open("real", "1000"));
    ASSERT_EQ(s_.Configure(9600, 1), 0);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    took = Took([&] { EXPECT_TRUE(s_.Late(10).empty()); });
    EXPECT_LT(took, 500ms) << "the reply is a second away";
}

// The binding hands the guard to kinds 0..3 after Init: one out of range
// fails the Init.
TEST_P(InProcess, AGuardOutOfRangeFailsInit)
{
    s_.Close();
    s_.SetGuard(Q417_GUARD_MAX_US + 1);
    EXPECT_EQ(s_.OpenPlain(), Q417_E_PARAM);
    EXPECT_EQ(s_.Handle(), 0);
}

} // namespace
