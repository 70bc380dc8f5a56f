// The LAN and COM drivers against the module simulator, through the
// program's binding: over UDP on 127.0.0.1 and over a pseudo-terminal.
#include "BusTiming.h"
#include "Session.h"
#include "Endpoint.h"
#include "SimProcess.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using simtest::SimProcess;
using simtest::TempDir;
using timing::Us;
using Ms = std::chrono::milliseconds;

enum class Link { Lan, Com };

constexpr int32_t TimeoutMs = 250;
constexpr int32_t ComPort = 5;
// What a loaded machine may add to a time-out before the call returns, in
// the fastest of a few calls (Timing.h).
constexpr auto Slack = 150ms;
using timing::LongTries, timing::ShortTries;

class Simulated : public ::testing::TestWithParam<Link> {
protected:
    // Starts the simulator with `extra` options and connects to it.
    void Start(std::vector<std::string> extra = {}, int32_t timeoutMs = TimeoutMs)
    {
        std::vector<std::string> args = {"--seed", "417"};
        if (GetParam() == Link::Lan) {
            args.insert(args.end(), {"--udp-port", "0"});
        } else {
            ASSERT_FALSE(dir_.Path().empty());
            args.insert(args.end(), {"--no-udp", "--pty", "--link", dir_.Path() + "/com"});
        }
        args.insert(args.end(), extra.begin(), extra.end());
        sim_.emplace(SIM_EXE, args);
        ASSERT_TRUE(sim_->Ready()) << sim_->Failure();

        if (GetParam() == Link::Lan) {
            ASSERT_NE(sim_->UdpPort(), 0);
            ASSERT_EQ(s_.OpenLan("127.0.0.1", sim_->UdpPort(), timeoutMs), 0);
        } else {
            ASSERT_FALSE(sim_->Link().empty());
            ::setenv(("Q417_COM" + std::to_string(ComPort)).c_str(), sim_->Link().c_str(), 1);
            ASSERT_EQ(s_.OpenCom(ComPort), 0);
        }
        ASSERT_EQ(s_.Configure(9600, timeoutMs), 0);
    }

    // Destroyed in reverse: the connection closes before the simulator
    // ends, and the simulator before its link's directory goes.
    TempDir dir_;
    std::optional<SimProcess> sim_;
    Session s_{GetParam() == Link::Lan ? ifLan : ifCom};
};

TEST_P(Simulated, IdentityIsWhatTheSimulatorAnnounced)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--module", "1", "--module", "9:6"}));
    ASSERT_EQ(sim_->Modules().size(), 2u);
    for (const SimProcess::Module &m : sim_->Modules()) {
        // Each at its own rate: 9600 and 38400 Bd.
        ASSERT_EQ(s_.Configure(uint32_t(bus::Rate(uint8_t(m.baudCode))), TimeoutMs), 0);
        EXPECT_EQ(s_.Identity(uint8_t(m.address)), m.name + ' ' + m.version);
    }
}

// The master reaches a module only at the module's rate: the COM driver
// through the rate it sets on the line, the LAN driver through the
// converter it configures.
TEST_P(Simulated, AModuleAtAnotherRateIsSilentUntilSetConfigMatchesIt)
{
    constexpr int32_t ShortTimeoutMs = 50; // four time-outs below
    ASSERT_NO_FATAL_FAILURE(Start({"--module", "1", "--module", "2:8"}, ShortTimeoutMs));
    EXPECT_EQ(s_.Call(2, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, 0);
    ASSERT_EQ(s_.Configure(115200, ShortTimeoutMs), 0);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    EXPECT_EQ(s_.Call(2, CmdReadIdentity, 0).status, 0);
    ASSERT_EQ(s_.Configure(19200, ShortTimeoutMs), 0);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    EXPECT_EQ(s_.Call(2, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
}

// A whole exchange through the driver, with the simulator keeping wire
// time: at least the floor, and a wire time counted twice at 9600 Bd
// (25 ms more) fails the upper bound.
TEST_P(Simulated, AnExchangeTakesItsWireTime)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--timing", "real", "--module", "1", "--module", "2:8"}));
    for (const auto &rate : {std::pair{9600, 1}, std::pair{115200, 2}}) {
        const int bd = rate.first, address = rate.second; // clang 14 cannot capture a binding
        ASSERT_EQ(s_.Configure(uint32_t(bd), TimeoutMs), 0);
        const Us floor = std::chrono::ceil<Us>(bus::ExchangeTime(bd, bus::DefaultTurnaround));
        const timing::Runs runs = timing::FastestOf(ShortTries, floor + 15ms, [&] {
            Answer a;
            const Us took =
                timing::Took([&] { a = s_.Call(uint8_t(address), CmdReadStatus, SubNone); });
            EXPECT_EQ(a.status, 0) << bd;
            EXPECT_GE(took, floor) << bd;
            return took;
        });
        EXPECT_LE(runs.fastest, floor + 15ms) << bd << " Bd, " << runs;
    }
}

TEST_P(Simulated, RegisterWriteReadsBack)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    for (uint8_t v : {0x00, 0x5A, 0xFF}) {
        EXPECT_EQ(s_.WriteRegister(1, RegDoutNegation(3), v).status, 0);
        const Answer a = s_.ReadRegister(1, RegDoutNegation(3));
        EXPECT_EQ(a.status, 0);
        EXPECT_EQ(a.d[2], v);
    }
    EXPECT_EQ(s_.ReadRegister(1, 99).status, Q417_E_MOD_REG);
}

TEST_P(Simulated, OutputsLoopBackToInputs)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--inputs", "loopback"}));
    for (uint32_t pattern : {0x00000001u, 0x80000000u, 0xA50F3C81u}) {
        EXPECT_EQ(s_.Call(1, CmdWriteOutputs, SubChannels, 0, Bytes(pattern)).status, 0);
        const Answer in = s_.Call(1, CmdReadInputs, SubChannels);
        EXPECT_EQ(in.status, 0);
        EXPECT_EQ(Word(in.d), pattern);
    }
}

TEST_P(Simulated, NoModuleAtTheAddressTimesOutInTime)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const timing::Runs runs = timing::FastestOf(LongTries, Ms(TimeoutMs) + Slack, [&] {
        Answer a;
        const Us took = timing::Took([&] { a = s_.Call(7, CmdReadIdentity, 0); });
        EXPECT_EQ(a.status, Q417_E_TIMEOUT);
        EXPECT_GE(took, Ms(TimeoutMs) - 5ms);
        return took;
    });
    EXPECT_LE(runs.fastest, Ms(TimeoutMs) + Slack) << runs;
    EXPECT_EQ(s_.Identity(1).size(), 13u) << "the module at 1 still answers";
}

TEST_P(Simulated, DroppedRepliesTimeOut)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--drop", "100"}));
    for (int i = 0; i < 2; ++i) {
        const timing::Runs runs = timing::FastestOf(LongTries, Ms(TimeoutMs) + Slack, [&] {
            Answer a;
            const Us took = timing::Took([&] { a = s_.Call(1, CmdReadStatus, SubNone); });
            EXPECT_EQ(a.status, Q417_E_TIMEOUT);
            return took;
        });
        EXPECT_LE(runs.fastest, Ms(TimeoutMs) + Slack) << runs;
    }
}

// One bit of each reply flipped. A datagram is one whole reply, so UDP
// always knows it got a damaged one; on a byte stream a hit start byte
// leaves nothing that looks like a frame, which is a plain time-out.
TEST_P(Simulated, CorruptedRepliesAreCrcErrors)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--corrupt", "100"}));
    int crc = 0;
    timing::Runs runs;
    for (int i = 0; i < 6; ++i) {
        Answer a;
        const Us took = timing::Took([&] { a = s_.Call(1, CmdReadIdentity, 0); });
        runs.took.push_back(took);
        runs.fastest = std::min(runs.fastest, took);
        if (GetParam() == Link::Lan)
            EXPECT_EQ(a.status, Q417_E_CRC);
        else
            EXPECT_TRUE(a.status == Q417_E_CRC || a.status == Q417_E_TIMEOUT) << int(a.status);
        crc += a.status == Q417_E_CRC;
        EXPECT_EQ(Word(a.d), 0u) << "no data from a damaged reply";
    }
    EXPECT_GE(crc, 1);
    // A damaged datagram ends the wait; waiting out the time-out after it
    // would make every call last at least that.
    if (GetParam() == Link::Lan) {
        EXPECT_LT(runs.fastest, Ms(TimeoutMs) / 2) << runs;
    }
    EXPECT_EQ(s_.Text(Q417_E_CRC), "chyba CRC v odpovědi modulu");
}

// Two modules at one address and rate answer together. A scan must see
// the damaged reply as such, and the same modules answer cleanly wherever
// their replies agree.
TEST_P(Simulated, CollidingRepliesAreCrcErrors)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--module", "1:4:ALPHA-01", "--module", "1:4:BRAVO-02"}));
    const Answer a = s_.Call(1, CmdReadIdentity, 0);
    EXPECT_EQ(a.status, Q417_E_CRC);
    EXPECT_EQ(Word(a.d), 0u) << "no data from a damaged reply";
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 2).status, 0) << "both are version 1.07";
}

// Every reply comes twice: each answer accepted must be its own request's,
// never the copy of the one before.
TEST_P(Simulated, DuplicatedRepliesNeverAnswerTheNextRequest)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--duplicate", "100"}));
    int answered = 0;
    for (int i = 1; i <= 60; ++i) {
        const uint8_t v = uint8_t(i * 37);
        const Answer a = i % 2 ? s_.WriteRegister(1, RegDinNegation(1), v)
                               : s_.Call(1, CmdWriteRegister, SubNone, uint8_t(i),
                                         {RegDoutInitState(1), RegDoutInitState(1), v, v});
        if (a.status != 0)
            continue;
        ++answered;
        const uint8_t reg = i % 2 ? RegDinNegation(1) : RegDoutInitState(1);
        EXPECT_EQ(a.d, (std::array<uint8_t, 4>{reg, reg, v, v})) << "request " << i;
        EXPECT_EQ(a.x, i % 2 ? 0 : i) << "request " << i;
    }
    EXPECT_GE(answered, 50);
}

// Replies arrive after the time-out: the first request's reply turns up
// while the second waits and must not be taken for the second's.
TEST_P(Simulated, LateReplyIsNotTakenForTheNextOne)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--delay", "100:" + std::to_string(TimeoutMs + 120)}));
    const timing::Runs runs = timing::FastestOf(LongTries, Ms(TimeoutMs) + Slack, [&] {
        EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
        Answer second;
        const Us took = timing::Took([&] { second = s_.Call(1, CmdReadIdentity, 2); });
        EXPECT_EQ(second.status, Q417_E_TIMEOUT);
        EXPECT_EQ(Word(second.d), 0u);
        return took;
    });
    EXPECT_LE(runs.fastest, Ms(TimeoutMs) + Slack) << runs;
}

// With a silence guard an empty address costs the request, the turnaround,
// one byte and the guard, counted by the driver on the line and by the
// converter on the LAN; a module that answers is awaited as before. The
// guard is wide for loopback: on the line the simulator's own wake-up,
// late on a machine busy with other work, eats into it. At 9600 Bd the
// upper bound (18.6 ms + 5 ms) still fails a wait for a whole reply
// (25 ms).
TEST_P(Simulated, AGuardEndsSilenceWhenTheFirstByteIsOverdue)
{
    constexpr Us Guard{4000};
    s_.SetGuard(int32_t(Guard.count()));
    ASSERT_NO_FATAL_FAILURE(Start({"--timing", "real", "--module", "1", "--module", "2:8"}));
    for (const auto &rate : {std::pair{9600, 1}, std::pair{115200, 2}}) {
        const int bd = rate.first, address = rate.second; // clang 14 cannot capture a binding
        ASSERT_EQ(s_.Configure(uint32_t(bd), TimeoutMs), 0);
        const Us due = std::chrono::ceil<Us>(bus::FirstByteTime(bd, bus::DefaultTurnaround)) + Guard;
        const timing::Runs runs = timing::FastestOf(ShortTries, due + 5ms, [&] {
            Answer a;
            const Us took = timing::Took([&] { a = s_.Call(7, CmdReadIdentity, 0); });
            EXPECT_EQ(a.status, Q417_E_TIMEOUT) << bd;
            EXPECT_GE(took, due) << bd;
            return took;
        });
        EXPECT_LE(runs.fastest, due + 5ms) << bd << " Bd, " << runs;
        // On the line the driver counts the guard, so a stall of the
        // simulator longer than it cuts a reply off now and then; a
        // deadline that comes too early cuts off every one.
        int cut = 0;
        while (cut < ShortTries && s_.Call(uint8_t(address), CmdReadStatus, SubNone).status != 0)
            ++cut;
        EXPECT_LT(cut, ShortTries) << bd << " Bd: every reply cut off";
    }
}

// A module slower than the time-out allows: its reply, once it comes, is a
// late reply of its address at its rate, heard while another exchange runs
// or while the host listens, and handed over once. The other module's
// exchange meanwhile takes its own reply.
TEST_P(Simulated, AReplyAfterTheTimeOutIsALateReplyOfItsAddress)
{
    ASSERT_NO_FATAL_FAILURE(
        Start({"--timing", "none", "--module", "1", "--module", "5:4::80"}, 30));
    EXPECT_EQ(s_.Call(5, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    // Mostly the reply waits in the queue when the next exchange starts;
    // on a slow machine it comes during that exchange or the listening.
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(s_.Call(1, CmdReadIdentity, 0).status, 0);
    std::vector<TLateReply> late = s_.Late(5000);
    for (int i = 0; i < 3 && late.empty(); ++i) // a loaded machine may need longer
        late = s_.Late(5000);
    EXPECT_EQ(s_.LastStatus(), 0);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].Address, 5);
    EXPECT_EQ(late[0].Rate, 9600u);
    EXPECT_GE(late[0].After, 80ms) << "the module's turnaround is part of it";
    EXPECT_TRUE(s_.Late(0).empty()) << "handed over once";

    // Without waiting, the call still takes in what has come meanwhile.
    EXPECT_EQ(s_.Call(5, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    for (int i = 0; i < 500 && late.size() < 2; ++i) {
        std::this_thread::sleep_for(10ms);
        for (const TLateReply &r : s_.Late(0))
            late.push_back(r);
    }
    ASSERT_EQ(late.size(), 2u);
    EXPECT_EQ(late[1].Address, 5);
}

// A late reply that comes while another exchange waits for its own is kept
// as well, and that exchange still takes its own reply.
TEST_P(Simulated, ALateReplyDuringAnotherExchangeIsKept)
{
    ASSERT_NO_FATAL_FAILURE(
        Start({"--timing", "none", "--module", "5:4::80", "--module", "6:4::150"}, 30));
    if (GetParam() == Link::Lan)
        GTEST_SKIP() << "the LAN's time-out is Init's; the converter tests play this";
    EXPECT_EQ(s_.Call(5, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    ASSERT_EQ(s_.Configure(9600, 2000), 0);
    EXPECT_EQ(s_.Call(6, CmdReadIdentity, 0).status, 0);
    const std::vector<TLateReply> late = s_.Late(0);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].Address, 5);
}

// A damaged late reply on the line is its module's, not trouble with the
// exchange that hears it: that one still ends as silence, not as a CRC
// error a scan would take for a collision where nobody is. (Seed 1 damages
// the reply's body: a hit start byte would leave no frame to judge.)
TEST_P(Simulated, ADamagedLateReplyIsNotTheErrorOfTheExchangeThatHearsIt)
{
    if (GetParam() == Link::Lan)
        GTEST_SKIP() << "the LAN's time-out is Init's; LanGuard plays this";
    ASSERT_NO_FATAL_FAILURE(
        Start({"--timing", "none", "--corrupt", "100", "--module", "5:4::60", "--seed", "1"}, 30));
    EXPECT_EQ(s_.Call(5, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    ASSERT_EQ(s_.Configure(9600, 400), 0);
    EXPECT_EQ(s_.Call(7, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
}

// Copies of a reply the exchange took are no late replies, nor is a reply
// to a request that was answered: only an unanswered request's can be.
TEST_P(Simulated, ACopyOfATakenReplyIsNotLate)
{
    ASSERT_NO_FATAL_FAILURE(Start({"--timing", "none", "--duplicate", "100"}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(s_.Call(1, CmdReadIdentity, uint8_t(i)).status, 0);
    EXPECT_TRUE(s_.Late(200).empty());
}

INSTANTIATE_TEST_SUITE_P(Links, Simulated, ::testing::Values(Link::Lan, Link::Com),
                         [](const auto &p) { return p.param == Link::Lan ? "Lan" : "Com"; });

// The converter drives the bus at the rate SetConfig told it, 9600 Bd
// before that, so a module at 38400 Bd answers only in between; a rate it
// refuses leaves the bus where it was.
TEST(LanConverter, RunsTheBusAtTheRateItWasTold)
{
    SimProcess sim(SIM_EXE, {"--udp-port", "0", "--module", "1:6"});
    ASSERT_TRUE(sim.Ready()) << sim.Failure();
    Session s(ifLan);
    ASSERT_EQ(s.OpenLan("127.0.0.1", sim.UdpPort(), TimeoutMs), 0);
    EXPECT_EQ(s.Call(1, CmdReadStatus, SubNone).status, Q417_E_TIMEOUT);

    ASSERT_EQ(s.Configure(38400, TimeoutMs), 0);
    EXPECT_EQ(s.Call(1, CmdReadStatus, SubNone).status, 0);
    EXPECT_EQ(s.Configure(12345, TimeoutMs), Q417_E_CONV_RATE);
    EXPECT_EQ(s.Text(Q417_E_CONV_RATE), "převodník odmítl rychlost sběrnice");
    EXPECT_EQ(s.Call(1, CmdReadStatus, SubNone).status, 0);

    ASSERT_EQ(s.Configure(9600, TimeoutMs), 0);
    EXPECT_EQ(s.Call(1, CmdReadStatus, SubNone).status, Q417_E_TIMEOUT);
}

TEST(LanInit, InvalidAddressTextIsRefused)
{
    for (const char *ip : {"", "localhost", "1.2.3", "256.0.0.1", "127.0.0.1 ", "::1"}) {
        Session s(ifLan);
        EXPECT_EQ(s.OpenLan(ip, 5000, TimeoutMs), Q417_E_IPADDR) << '"' << ip << '"';
        EXPECT_EQ(s.Handle(), 0);
        EXPECT_EQ(s.Text(Q417_E_IPADDR), "neplatná IP adresa");
    }
}

// The converter's silence datagram goes only to a driver whose last
// configuration asked for it, and only for a request nobody answered: a
// driver that knows nothing of it never gets one, even while another
// driver on the same converter has the guard on.
TEST(LanConverter, ReportsSilenceOnlyToADriverThatAskedForIt)
{
    using simtest::Endpoint, simtest::MakeRequest, simtest::ReplyWait;
    SimProcess sim(SIM_EXE, {"--udp-port", "0", "--module", "1"});
    ASSERT_TRUE(sim.Ready()) << sim.Failure();
    const Endpoint guarded = Endpoint::Udp(sim.UdpPort()), plain = Endpoint::Udp(sim.UdpPort());
    const auto guard = [&](uint16_t us) {
        guarded.Send(wire::Encode(wire::GuardedConfig{uint8_t(us), 9600, us}));
        wire::ConverterAck ack;
        return wire::Decode(guarded.Receive(ReplyWait, 64), ack) == wire::Decoded::Ok;
    };
    ASSERT_TRUE(guard(500));
    ASSERT_TRUE(plain.SetRate(9600));

    guarded.Send(MakeRequest(10, 7, CmdReadIdentity, 0));
    plain.Send(MakeRequest(10, 7, CmdReadIdentity, 0));
    wire::Silence silence;
    ASSERT_EQ(wire::Decode(guarded.Receive(ReplyWait, 64), silence), wire::Decoded::Ok);
    EXPECT_EQ(silence, (wire::Silence{10, 7}));
    EXPECT_TRUE(plain.Receive(100ms, 64).empty());

    // A module that answers: its reply, and nothing after it.
    ASSERT_TRUE(guarded.Ask(MakeRequest(11, 1, CmdReadStatus, SubNone)));
    EXPECT_TRUE(guarded.Receive(50ms, 64).empty());

    // The 8-byte form turns it off again.
    ASSERT_TRUE(guarded.SetRate(9600));
    guarded.Send(MakeRequest(12, 7, CmdReadIdentity, 0));
    EXPECT_TRUE(guarded.Receive(100ms, 64).empty());
}

// The converter expects the bus's turnaround: a slower module's first byte
// comes after the silence the converter reported, and its reply follows.
// The exchange has ended with the silence (status 5 although the time-out
// would have let the reply in), and the reply is a late one.
// One only a little slower, whose first byte comes within the guard, gets
// no silence at all.
TEST(LanConverter, ForwardsASlowModulesReplyAfterItsSilence)
{
    SimProcess sim(SIM_EXE, {"--udp-port", "0", "--timing", "real", "--module", "5:4::40",
                             "--module", "6:4::3"});
    ASSERT_TRUE(sim.Ready()) << sim.Failure();
    Session s(ifLan);
    s.SetGuard(5000);
    ASSERT_EQ(s.OpenLan("127.0.0.1", sim.UdpPort(), 1000), 0);
    ASSERT_EQ(s.Configure(9600, 1000), 0);
    EXPECT_EQ(s.Call(5, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    const std::vector<TLateReply> late = s.Late(5000);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].Address, 5);
    EXPECT_GE(late[0].After, std::chrono::duration_cast<std::chrono::microseconds>(
                                 bus::ExchangeTime(9600, 40ms)));
    EXPECT_EQ(s.Call(6, CmdReadIdentity, 0).status, 0);
}

} // namespace
