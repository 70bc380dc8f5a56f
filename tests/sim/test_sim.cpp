// The simulator as scripts and drivers see it: a child process spoken to in
// raw frames over UDP on 127.0.0.1 and over its pseudo-terminal.
#include "BusTiming.h"
#include "Endpoint.h"
#include "SimProcess.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <thread>

using namespace simtest;
namespace fs = std::filesystem;

namespace {

constexpr uint8_t CmdReadInputs = 0, CmdWriteOutputs = 1, CmdReadStatus = 100,
                  CmdClearStatus = 101, CmdReadRegister = 102, CmdWriteRegister = 103,
                  CmdReadIdentity = 200;
constexpr uint8_t StatusResetBit = 1u << 5;

// Long enough for a loopback reply that should not come to have come.
constexpr Ms Quiet = 150ms;

// The simulator on an ephemeral UDP port, `args` after that.
SimProcess StartSim(std::vector<std::string> args)
{
    args.insert(args.begin(), {"--udp-port", "0"});
    return SimProcess(SIM_EXE, args);
}

wire::Request Identity(uint8_t seq, uint8_t address, uint8_t sub = 0)
{
    return MakeRequest(seq, address, CmdReadIdentity, sub);
}

} // namespace

TEST(SimUdp, IdentityMatchesStartLineAndEchoesSeq)
{
    SimProcess sim = StartSim({});
    ASSERT_TRUE(sim.Ready());
    ASSERT_EQ(sim.StartLines().size(), 2u);
    std::smatch m;
    const std::regex moduleLine("module 1 baud 4 name (.{8}) version (.{4})");
    ASSERT_TRUE(std::regex_match(sim.StartLines()[0], m, moduleLine)) << sim.StartLines()[0];
    ASSERT_NE(sim.UdpPort(), 0);

    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    std::string fromWire;
    for (uint8_t sub = 0; sub <= 2; ++sub) {
        const auto reply = udp.Ask(Identity(uint8_t(0xF0 + sub), 1, sub));
        ASSERT_TRUE(reply) << "sub " << int(sub);
        EXPECT_EQ(reply->seq, 0xF0 + sub);
        EXPECT_EQ(reply->address, 1);
        EXPECT_EQ(reply->status, 0);
        fromWire.append(reply->d.begin(), reply->d.end());
    }
    EXPECT_EQ(fromWire, m[1].str() + m[2].str());
}

TEST(SimUdp, EveryModuleAnswersAtItsAddressWithTheChosenInputs)
{
    SimProcess sim = StartSim({"--module", "3", "--module", "9:4", "--inputs", "fixed:DEADBEEF"});
    ASSERT_TRUE(sim.Ready());
    ASSERT_EQ(sim.StartLines().size(), 3u);
    EXPECT_TRUE(sim.StartLines()[0].starts_with("module 3 baud 4 name "));
    EXPECT_TRUE(sim.StartLines()[1].starts_with("module 9 baud 4 name "));

    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    for (uint8_t address : {3, 9}) {
        const auto reply = udp.Ask(MakeRequest(address, address, CmdReadInputs, 64));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->address, address);
        EXPECT_EQ(reply->d, (std::array<uint8_t, 4>{0xEF, 0xBE, 0xAD, 0xDE}));
    }
}

// What must stay unanswered goes first: a reply to any of it would arrive
// before the reply to the good request that follows.
TEST(SimUdp, NoReplyForUnknownAddressOrDamagedFrame)
{
    SimProcess sim = StartSim({});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());

    udp.Send(Identity(1, 2)); // nobody at 2
    auto badCrc = wire::Encode(Identity(2, 1));
    badCrc[7] ^= 0x10;
    udp.Send(badCrc);
    auto badStart = wire::Encode(Identity(3, 1));
    badStart[0] = wire::ReplyStart;
    udp.Send(badStart);
    const auto good = wire::Encode(Identity(4, 1));
    udp.Send(std::span(good).first(good.size() - 1));
    const auto whole = wire::Encode(Identity(6, 1));
    std::vector<uint8_t> padded(whole.begin(), whole.end());
    padded.push_back(0x00);
    udp.Send(padded);

    const auto reply = udp.Ask(Identity(5, 1));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->seq, 5);
    EXPECT_TRUE(udp.Receive(Quiet).empty());
}

TEST(SimPty, AnswersWholeSplitAndNoisyFrames)
{
    SimProcess sim = StartSim({"--no-udp", "--pty"});
    ASSERT_TRUE(sim.Ready());
    ASSERT_EQ(sim.StartLines().size(), 2u) << "--no-udp still served UDP?";
    const Endpoint pty = Endpoint::Pty(sim.Pty());
    ASSERT_TRUE(pty.IsOpen());

    auto expectReply = [&](uint8_t seq) {
        wire::Reply reply;
        ASSERT_EQ(wire::Decode(pty.Receive(ReplyWait), reply), wire::Decoded::Ok) << int(seq);
        EXPECT_EQ(reply.seq, seq);
        EXPECT_EQ(reply.address, 1);
    };

    pty.Send(Identity(1, 1));
    expectReply(1);

    const auto frame = wire::Encode(Identity(2, 1));
    const std::span<const uint8_t> f(frame);
    for (auto piece : {f.first(3), f.subspan(3, 5), f.subspan(8)}) {
        pty.Send(piece);
        std::this_thread::sleep_for(20ms);
    }
    expectReply(2);

    const uint8_t noise[] = {0x00, 0xFF, wire::RequestStart, 0x13, 0x37, 0x5A};
    pty.Send(noise);
    pty.Send(Identity(3, 2)); // nobody at 2
    pty.Send(Identity(4, 1));
    expectReply(4);
    EXPECT_TRUE(pty.Receive(Quiet).empty());
}

TEST(SimPty, LinkReplacesOnlySymlinksAndGoesAwayOnTerm)
{
    std::string dir = (fs::temp_directory_path() / "q417sim-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(dir.data()));
    const fs::path link = fs::path(dir) / "bus";

    std::ofstream(link) << "data";
    SimProcess refused = StartSim({"--no-udp", "--link", link.string()});
    EXPECT_FALSE(refused.Ready());
    EXPECT_NE(refused.Stop(SIGTERM), 0);
    EXPECT_FALSE(fs::is_symlink(link));
    fs::remove(link);

    fs::create_symlink("/nonexistent", link);
    SimProcess sim = StartSim({"--no-udp", "--link", link.string()});
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.StartLines().back(), "link " + link.string());
    EXPECT_EQ(fs::read_symlink(link).string(), sim.Pty());

    // A driver closing the line must not end the service for the next one.
    Endpoint::Pty(link.string());
    const Endpoint pty = Endpoint::Pty(link.string());
    EXPECT_TRUE(pty.Ask(Identity(9, 1)));

    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    fs::remove_all(dir);
}

TEST(SimFaults, DropSendsNothing)
{
    for (const char *option : {"--drop", "--drop-requests"}) {
        SimProcess sim = StartSim({option, "100"});
        ASSERT_TRUE(sim.Ready());
        const Endpoint udp = Endpoint::Udp(sim.UdpPort());
        udp.Send(Identity(1, 1));
        EXPECT_TRUE(udp.Receive(Quiet).empty()) << option;
    }
}

TEST(SimFaults, DuplicateSendsTwoIdenticalReplies)
{
    SimProcess sim = StartSim({"--duplicate", "100"});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    const auto first = udp.Ask(Identity(42, 1));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->seq, 42);
    const auto frame = wire::Encode(*first);
    EXPECT_EQ(udp.Receive(ReplyWait), std::vector<uint8_t>(frame.begin(), frame.end()));
    EXPECT_TRUE(udp.Receive(Quiet).empty());
}

TEST(SimFaults, CorruptFlipsOneBitAnywhere)
{
    SimProcess sim = StartSim({"--corrupt", "100", "--seed", "7"});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    std::set<std::size_t> hit;
    for (uint8_t seq = 0; seq < 24; ++seq) {
        udp.Send(Identity(seq, 1, 2));
        const auto got = udp.Receive(ReplyWait);
        wire::Reply reply;
        ASSERT_EQ(got.size(), wire::ReplySize);
        EXPECT_NE(wire::Decode(got, reply), wire::Decoded::Ok);
        // The intact reply carries the version, as on the start line.
        wire::Reply intact{seq, 1, 0, 0, {}};
        const std::string version = sim.StartLines()[0].substr(sim.StartLines()[0].size() - 4);
        std::copy(version.begin(), version.end(), intact.d.begin());
        const auto expected = wire::Encode(intact);
        int bits = 0;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            bits += std::popcount(unsigned(expected[i] ^ got[i]));
            if (expected[i] != got[i])
                hit.insert(i);
        }
        EXPECT_EQ(bits, 1) << "seq " << int(seq);
    }
    EXPECT_GE(hit.size(), 4u) << "the flipped bit should land anywhere in the frame";
}

TEST(SimFaults, DelayedReplyDoesNotHoldUpTheNext)
{
    constexpr auto delay = 400ms;
    SimProcess sim = StartSim({"--delay", "100:400"});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    const auto start = std::chrono::steady_clock::now();
    udp.Send(Identity(1, 1));
    udp.Send(Identity(2, 1));
    for (uint8_t seq : {1, 2}) {
        wire::Reply reply;
        ASSERT_EQ(wire::Decode(udp.Receive(ReplyWait), reply), wire::Decoded::Ok);
        const auto at = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(reply.seq, seq);
        EXPECT_GE(at, delay);
        // Served one after the other, the second would come at twice the
        // delay or later; all the time short of that is the busy machine's.
        EXPECT_LT(at, delay * 2);
    }
}

// A new address in register 63 waits for a restart, as on a real module,
// and the restart leaves RST in the status register.
// The loopback fixture with a broken input and two crossed wires, as the
// I/O acceptance test meets it.
TEST(SimFaults, StuckInputAndCrossedWiresShowInTheInputs)
{
    SimProcess sim = StartSim({"--stuck", "DIN5=0", "--swap", "3,4", "--timing", "none"});
    ASSERT_TRUE(sim.Ready()) << sim.Failure();
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    auto writeThenRead = [&](uint32_t w) -> uint32_t {
        udp.Ask(MakeRequest(1, 1, CmdWriteOutputs, 64,
                            {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)}));
        const auto r = udp.Ask(MakeRequest(2, 1, CmdReadInputs, 64));
        return r ? r->d[0] | r->d[1] << 8 | r->d[2] << 16 | uint32_t(r->d[3]) << 24 : 0xDEADBEEF;
    };
    // Factory negations: DIN5's terminal at level 0 reads 1.
    EXPECT_EQ(writeThenRead(0x00000000), 0x00000020u);
    EXPECT_EQ(writeThenRead(0x80000008), 0x80000030u);
    EXPECT_EQ(writeThenRead(0x00000010), 0x00000028u);
}

TEST(SimRestart, HangupAppliesWrittenAddress)
{
    SimProcess sim = StartSim({});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());

    const auto written = udp.Ask(MakeRequest(1, 1, CmdWriteRegister, 0, {63, 63, 7, 7}));
    ASSERT_TRUE(written);
    ASSERT_EQ(written->status, 0);

    // The first reply back tells who answered.
    udp.Send(MakeRequest(2, 7, CmdReadStatus, 0));
    auto reply = udp.Ask(MakeRequest(3, 1, CmdReadStatus, 0));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->seq, 3);
    EXPECT_EQ(reply->d[0] & StatusResetBit, 0);

    sim.Signal(SIGHUP);
    ASSERT_TRUE(sim.WaitForLine("restart", ReplyWait));

    udp.Send(MakeRequest(4, 1, CmdReadStatus, 0));
    reply = udp.Ask(MakeRequest(5, 7, CmdReadStatus, 0));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->seq, 5);
    EXPECT_EQ(reply->address, 7);
    EXPECT_NE(reply->d[0] & StatusResetBit, 0);
    EXPECT_TRUE(udp.Receive(Quiet).empty());

    EXPECT_EQ(sim.Stop(SIGINT), 0);
}

TEST(SimOptions, BadValuesExitWithCode2)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--udp-port", "65536"}, {"--module", "256"},      {"--module", "1:9"},
        {"--module", "1:4:DIO-323"},                       {"--inputs", "fixed:xyz"},
        {"--module", "1:4:DIO 3232"},                      {"--module", "1::DIO-3232"},
        {"--drop", "101"},       {"--delay", "50"},        {"--seed", "s"},
        {"--no-udp"},            {"--bogus"},              {"stray"},
        {"--timing", "fast"},    {"--turnaround", "1001"}, {"--turnaround", "-1"},
        {"--stuck", "DIN32=1"},  {"--stuck", "DOUT1=2"},   {"--stuck", "DIN1"},
        {"--swap", "3,3"},       {"--swap", "3"},          {"--swap", "1,2", "--inputs", "pattern"},
        {"--stuck", "DOUT7=1", "--stuck", "DOUT7=0"},
        {"--module", "1:4:"},    {"--module", "1:4::"},    {"--module", "1:4::1001"},
        {"--module", "1:4:DIO-3232:x"},
    };
    for (const auto &args : bad) {
        SimProcess sim = StartSim(args);
        EXPECT_FALSE(sim.Ready()) << args[0];
        EXPECT_EQ(sim.Stop(SIGTERM), 2) << args[0];
        EXPECT_FALSE(sim.Stderr().empty()) << args[0];
    }
    // The same parser takes what is well formed.
    SimProcess good = StartSim({"--module", "1:8", "--delay", "2.5:10", "--inputs", "fixed:0xff",
                                "--timing", "real", "--turnaround", "0", "--module", "1:4",
                                "--module", "1:4:DIO-3232", "--module", "1:4:dio-3232",
                                "--module", "2:4::40", "--module", "3:4:SLOW-003:0"});
    EXPECT_TRUE(good.Ready()) << good.Failure();
    ASSERT_GE(good.StartLines().size(), 6u);
    EXPECT_EQ(good.StartLines()[4], "module 2 baud 4 name DIO-3232 version 1.07 turnaround 40");
    EXPECT_EQ(good.StartLines()[5], "module 3 baud 4 name SLOW-003 version 1.07 turnaround 0");
}

// Modules of their own turnarounds that collide answer together after the
// slowest one's, also without wire time.
TEST(SimCollision, CollidingSlowModulesAnswerAfterTheSlowestTurnaround)
{
    SimProcess sim = StartSim({"--module", "1:4:ALPHA-01:10", "--module", "1:4:BRAVO-02:60"});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    const auto sent = std::chrono::steady_clock::now();
    udp.Send(Identity(1, 1));
    EXPECT_FALSE(udp.Receive(ReplyWait).empty());
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 60ms);
}

// Two modules at address 1 and 9600 Bd with names that differ in sub 0: the
// master gets the AND of their replies over UDP and the pty alike. What
// they answer alike comes clean; the module alone at its rate answers as
// ever.
TEST(SimCollision, RepliesOfOneAddressAndRateOverlay)
{
    SimProcess sim = StartSim({"--pty", "--module", "1:4:ALPHA-01", "--module", "1:4:BRAVO-02",
                               "--module", "1:8:CHARLIE3"});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    const Endpoint pty = Endpoint::Pty(sim.Pty());
    auto overlaid = [](uint8_t seq) {
        auto frame = wire::Encode(wire::Reply{seq, 1, 0, 0, {'A', 'L', 'P', 'H'}});
        const auto other = wire::Encode(wire::Reply{seq, 1, 0, 0, {'B', 'R', 'A', 'V'}});
        for (std::size_t i = 0; i < frame.size(); ++i)
            frame[i] &= other[i];
        return std::vector<uint8_t>(frame.begin(), frame.end());
    };
    wire::Reply reply;
    udp.Send(Identity(1, 1));
    const auto datagram = udp.Receive(ReplyWait);
    EXPECT_EQ(datagram, overlaid(1));
    EXPECT_EQ(wire::Decode(datagram, reply), wire::Decoded::BadCrc);
    pty.Send(Identity(2, 1));
    EXPECT_EQ(pty.Receive(ReplyWait), overlaid(2));
    EXPECT_TRUE(udp.Receive(Quiet).empty() && pty.Receive(Quiet).empty()) << "one reply each";

    const auto version = udp.Ask(Identity(3, 1, 2));
    ASSERT_TRUE(version) << "the same version from both";
    EXPECT_EQ(version->d, (std::array<uint8_t, 4>{'1', '.', '0', '7'}));

    // Had the write reached one of them only, the read-back would collide.
    const auto written = udp.Ask(MakeRequest(4, 1, CmdWriteRegister, 0, {33, 33, 0x5A, 0x5A}));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->status, 0);
    const auto readBack = pty.Ask(MakeRequest(5, 1, CmdReadRegister, 0, {33, 33, 0, 0}));
    ASSERT_TRUE(readBack);
    EXPECT_EQ(readBack->d[2], 0x5A);

    ASSERT_TRUE(udp.SetRate(115200));
    const auto own = udp.Ask(Identity(6, 1));
    ASSERT_TRUE(own) << "alone at its rate";
    EXPECT_EQ(own->d, (std::array<uint8_t, 4>{'C', 'H', 'A', 'R'}));
}

// The end line counts every request frame that arrived, whether a module
// heard it or not, and tells writes from the rest; frames that are not
// requests do not count.
TEST(SimCounts, EndLineCountsRequestsByCommand)
{
    SimProcess sim = StartSim({"--module", "1"});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    udp.Send(MakeRequest(1, 9, CmdWriteRegister, 0, {33, 33, 0, 0})); // nobody at 9
    auto badCrc = wire::Encode(MakeRequest(2, 1, CmdWriteRegister, 0, {33, 33, 0, 0}));
    badCrc[6] ^= 0x01;
    udp.Send(badCrc);
    ASSERT_TRUE(udp.SetRate(9600)); // the converter's, not a module's
    // Each answered, so all have been read before the signal.
    for (uint8_t seq = 3; seq < 6; ++seq)
        ASSERT_TRUE(udp.Ask(Identity(seq, 1)));
    ASSERT_TRUE(udp.Ask(MakeRequest(6, 1, CmdWriteRegister, 0, {33, 33, 0, 0})));
    ASSERT_TRUE(udp.Ask(MakeRequest(7, 1, CmdWriteOutputs, 64)));
    ASSERT_TRUE(udp.Ask(MakeRequest(8, 1, CmdClearStatus, 0)));
    ASSERT_TRUE(udp.Ask(MakeRequest(9, 1, CmdReadStatus, 0)));

    const auto counts = sim.StopAndCount(SIGINT);
    ASSERT_TRUE(counts) << "no counts line after SIGINT";
    EXPECT_EQ(counts->total, 8u);
    EXPECT_EQ(counts->read, 4u);
    EXPECT_EQ(counts->write, 4u);
    const std::map<int, uint64_t> expected = {
        {CmdWriteOutputs, 1}, {CmdReadStatus, 1}, {CmdClearStatus, 1}, {CmdWriteRegister, 2},
        {CmdReadIdentity, 3}};
    EXPECT_EQ(counts->byCommand, expected);
}

namespace {

using Clock = std::chrono::steady_clock;
using Us = std::chrono::microseconds;

// What a shared machine may add to the fastest of a few replies
// (Timing.h); less than one more exchange at 9600 Bd, so a wire time counted
// twice fails as surely as none.
constexpr Us Slack = 15ms;
constexpr int Tries = timing::ShortTries;

Us Floor(int32_t bd, Ms turnaround = 1ms)
{
    return std::chrono::ceil<Us>(bus::ExchangeTime(bd, turnaround));
}

Us Since(Clock::time_point t0)
{
    return std::chrono::duration_cast<Us>(Clock::now() - t0);
}

} // namespace

// The COM driver's rate is what it set on the line: the simulator reads it
// from its side of the pseudo-terminal, so the master must see the speed set
// on the slave. Each module hears only its own rate.
TEST(SimPty, ModulesHearOnlyTheRateSetOnTheLine)
{
    SimProcess sim = StartSim({"--no-udp", "--pty", "--module", "1", "--module", "2:8"});
    ASSERT_TRUE(sim.Ready());
    EXPECT_TRUE(sim.StartLines()[1].starts_with("module 2 baud 8 name "));
    const Endpoint pty = Endpoint::Pty(sim.Pty());
    EXPECT_TRUE(pty.Ask(Identity(1, 1))) << "9600 Bd, module 1's rate";
    EXPECT_FALSE(pty.Ask(Identity(2, 2), Quiet));
    ASSERT_TRUE(pty.SetRate(115200));
    EXPECT_FALSE(pty.Ask(Identity(3, 1), Quiet));
    EXPECT_TRUE(pty.Ask(Identity(4, 2))) << "115200 Bd, module 2's rate";
    ASSERT_TRUE(pty.SetRate(19200));
    EXPECT_FALSE(pty.Ask(Identity(5, 1), Quiet));
    EXPECT_FALSE(pty.Ask(Identity(6, 2), Quiet));
}

// A datagram leaves after the whole exchange's time (the converter's serial
// leg); the pseudo-terminal's reply comes byte by byte at the line's rate.
TEST(SimTiming, RepliesLeaveAfterTheirWireTime)
{
    SimProcess sim = StartSim({"--timing", "real", "--pty", "--module", "1", "--module", "2:8"});
    ASSERT_TRUE(sim.Ready());
    const Endpoint udp = Endpoint::Udp(sim.UdpPort());
    const Endpoint pty = Endpoint::Pty(sim.Pty());
    struct Case {
        const Endpoint &to;
        int32_t bd;
        uint8_t address;
        const char *what;
    };
    const Case cases[] = {{udp, 9600, 1, "UDP before any converter configuration"},
                          {udp, 115200, 2, "UDP with the converter at 115200 Bd"},
                          {pty, 9600, 1, "pty at 9600 Bd"},
                          {pty, 115200, 2, "pty at 115200 Bd"}};
    for (const Case &c : cases) {
        if (&c != &cases[0]) {
            ASSERT_TRUE(c.to.SetRate(c.bd)) << c.what;
        }
        uint8_t seq = 0;
        const timing::Runs runs = timing::FastestOf(Tries, Floor(c.bd) + Slack, [&] {
            const auto t0 = Clock::now();
            EXPECT_TRUE(c.to.Ask(Identity(++seq, c.address))) << c.what;
            const Us took = Since(t0);
            EXPECT_GE(took, Floor(c.bd)) << c.what;
            return took;
        });
        EXPECT_LE(runs.fastest, Floor(c.bd) + Slack) << c.what << ", " << runs;
    }

    // Paced, not held back and written whole: at 9600 Bd the first byte
    // comes ten byte times (10.4 ms) before the reply's end. No delay of
    // the reader can make a byte come before it was written, so the first
    // byte seen 5 ms before the end in one run of several proves the pace.
    ASSERT_TRUE(pty.SetRate(9600));
    const Us floor = Floor(9600);
    uint8_t seq = 100;
    const timing::Runs firstByte = timing::FastestOf(Tries, floor - 5ms, [&] {
        const auto t0 = Clock::now();
        pty.Send(Identity(++seq, 1));
        EXPECT_EQ(pty.Receive(ReplyWait, 1).size(), 1u);
        const Us first = Since(t0);
        EXPECT_EQ(pty.Receive(ReplyWait, wire::ReplySize - 1).size(), wire::ReplySize - 1);
        EXPECT_GE(Since(t0), floor) << "the last byte";
        return first;
    });
    EXPECT_LE(firstByte.fastest, floor - 5ms) << "the first byte, " << firstByte;
}

// The faults of the command line act on replies that wait for their time.
TEST(SimTiming, FaultsStillApply)
{
    const Us floor = Floor(9600);
    for (const char *fault : {"--drop", "--corrupt", "--duplicate", "--delay"}) {
        const std::string share = std::string(fault) == "--delay" ? "100:40" : "100";
        SimProcess sim = StartSim({"--timing", "real", fault, share});
        ASSERT_TRUE(sim.Ready()) << fault;
        const Endpoint udp = Endpoint::Udp(sim.UdpPort());
        const auto t0 = Clock::now();
        udp.Send(Identity(7, 1));
        const auto got = udp.Receive(std::string(fault) == "--drop" ? Quiet : ReplyWait);
        const Us at = Since(t0);
        wire::Reply reply;
        const wire::Decoded decoded = wire::Decode(got, reply);
        const std::string f = fault;
        if (f == "--drop") {
            EXPECT_TRUE(got.empty());
            continue;
        }
        ASSERT_EQ(got.size(), wire::ReplySize) << fault;
        EXPECT_GE(at, floor) << fault;
        if (f == "--corrupt")
            EXPECT_NE(decoded, wire::Decoded::Ok);
        else
            EXPECT_EQ(decoded, wire::Decoded::Ok) << fault;
        if (f == "--duplicate") {
            EXPECT_EQ(udp.Receive(ReplyWait), got);
        }
        if (f == "--delay") {
            EXPECT_GE(at, floor + 40ms);
        }
    }
}
