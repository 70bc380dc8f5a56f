// The finder's handling of late replies and damaged ones, against a fake
// driver that answers from a script: which addresses are probed again, at
// which time-out, and what the result says. No timing is involved; the
// simulator tests (tests/scan) show the same on a bus.
#include "FakeLoader.h"
#include "Qxxx417.h"
#include "Scan.h"
#include "fake_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path Fakes = FAKES_DIR;

fake_reply Silent()
{
    return {0, Q417_E_TIMEOUT, 0, {0, 0, 0, 0}};
}
fake_reply Damaged()
{
    return {0, Q417_E_CRC, 0, {0, 0, 0, 0}};
}
fake_reply Chars(const char *four)
{
    return {0, 0, 0, {four[0], four[1], four[2], four[3]}};
}

class ScanLate : public ::testing::Test
{
  protected:
    // The fake of kind 2 from `scenario`, kept loaded so that its script
    // outlives the binding's loads and unloads.
    fake_state &Fake(const char *scenario = "late")
    {
        if (keep_ != nullptr)
            fakeload::Release(keep_);
        DrvSetLibraryDirectory(Fakes / scenario);
        keep_ = fakeload::Load(Fakes / scenario / fakeload::FileName("QPCI1417.DLL"));
        EXPECT_NE(keep_, nullptr);
        fake_state *s = fakeload::State(keep_);
        std::memset(s, 0, sizeof *s);
        s->init_handle = 7;
        s->send_status = Q417_E_TIMEOUT; // nobody at any address not scripted
        return *s;
    }
    void TearDown() override
    {
        if (keep_ != nullptr)
            fakeload::Release(keep_);
    }

    static void Script(fake_state &s, std::vector<fake_reply> replies)
    {
        s.script_len = int32_t(replies.size());
        std::copy(replies.begin(), replies.end(), s.script);
    }
    // After Send call `afterSend` (from 1), the driver has heard a late
    // reply from `address` at `rate`, `us` after its request.
    static void LateReply(fake_state &s, int32_t afterSend, int32_t address, int32_t rate,
                          int32_t us)
    {
        s.late_after[s.late_len] = afterSend;
        s.late[s.late_len][0] = address;
        s.late[s.late_len][1] = rate;
        s.late[s.late_len][2] = us;
        ++s.late_len;
    }

    static TScanOptions Plan(std::vector<uint8_t> addresses, std::vector<uint8_t> codes)
    {
        TScanOptions o;
        o.Addresses = std::move(addresses);
        o.BaudCodes = std::move(codes);
        o.WireTimed = false;
        o.Margin = 10ms;
        o.LateAllowance = 1ms;
        return o;
    }

    TScanLink link_{ifPci, {}, {}, 0};
    fakeload::Handle keep_ = nullptr;
};

// Address 2 stays silent for its probe, and its reply is heard during the
// probe of 5: after the rate's last probe the scan probes 2 again on a
// connection of its own, at a slow module's pace, reads its identity
// there and marks it slow. Nothing else is probed twice.
TEST_F(ScanLate, AnAddressThatAnsweredLateIsProbedAgainSlowlyAndMarked)
{
    fake_state &s = Fake();
    std::vector<fake_reply> script(8, Silent());
    script.insert(script.end(), {Chars("DIO-"), Chars("DIO-"), Chars("3232"), Chars("1.07")});
    Script(s, script);
    LateReply(s, 6, 2, 9600, 40000);
    const TScanOptions o = Plan({0, 1, 2, 3, 4, 5, 6, 7}, {4});

    const TScanResult r = ScanModules(link_, o);

    EXPECT_EQ(r.Outcome, TScanOutcome::Done);
    ASSERT_EQ(r.Finds.size(), 1u);
    EXPECT_EQ(r.Finds[0].Address, 2);
    EXPECT_EQ(r.Finds[0].BaudCode, 4);
    EXPECT_EQ(r.Finds[0].Name, "DIO-3232 v.1.07");
    EXPECT_TRUE(r.Finds[0].Slow);
    EXPECT_FALSE(r.Finds[0].Collision);
    EXPECT_EQ(s.send_count, 12);
    EXPECT_EQ(s.requests[8][0], 2) << "the re-probe";
    EXPECT_EQ(s.requests[8][1], CmdReadIdentity);
    // The re-probe's time-out: the probe's and SlowProbeExtra (260 ms
    // beats twice the 40 ms heard).
    EXPECT_EQ(s.setconfig_args[2], int32_t(SlowProbeTimeoutMs(o, 4, 40ms)));
    EXPECT_EQ(SlowProbeTimeoutMs(o, 4, 40ms), 260u);
    EXPECT_EQ(SlowProbeTimeoutMs(o, 4, 300ms), 600u) << "twice what a very late one took";
    // The late window after the rate's last probe listened for a while.
    bool waited = false;
    for (int i = 0; i < std::min(s.late_calls, FAKE_SCRIPT_LEN); ++i)
        waited = waited || s.late_waits[i] > 0;
    EXPECT_TRUE(waited);
    EXPECT_EQ(ScanFindNote(r.Finds[0], o),
              "odpověď se zpožděním " + std::to_string(SlowFindDelayMs(r.Finds[0], o)) + " ms");

    // On a wire-timed bus the delay is what it took beyond a module of the
    // bus's own turnaround: 44.96 ms against 24.96 ms at 9600 Bd.
    TScanOptions timed;
    TScanFind late{2, 4, "DIO-3232 v.1.07", false, 0, 1};
    late.Slow = true;
    late.ReplyTime = 44960us;
    EXPECT_EQ(SlowFindDelayMs(late, timed), 20);
    EXPECT_EQ(ScanFindNote(late, timed), "odpověď se zpožděním 20 ms");
    late.Collision = true;
    EXPECT_EQ(ScanFindNote(late, timed), "kolize (odpovídá asi více modulů najednou)");
}

// What is not re-probed: an address already found at that rate, a rate no
// module has, a reply heard for a rate whose turn has passed is probed at
// that rate at the end, and one heard twice is probed once.
TEST_F(ScanLate, OnlyAddressesNotFoundAreProbedAgainOnceAtTheirOwnRate)
{
    fake_state &s = Fake();
    // 9600 Bd: 0 answers (4 exchanges), 1 silent. 115200 Bd: 0 and 1 silent.
    // Then the re-probe of 1 at 9600 Bd, which answers.
    Script(s, {Chars("DIO-"), Chars("DIO-"), Chars("3232"), Chars("1.07"), Silent(), Silent(),
               Silent(), Chars("DIO-"), Chars("DIO-"), Chars("3232"), Chars("1.07")});
    LateReply(s, 4, 0, 9600, 30000);  // a copy from the module found
    LateReply(s, 6, 1, 9600, 300000); // heard during 115200 Bd: 9600 Bd is done
    LateReply(s, 6, 1, 9600, 200000); // heard again, sooner
    LateReply(s, 6, 7, 1234, 60000);  // no module's rate
    const TScanResult r = ScanModules(link_, Plan({0, 1}, {4, 8}));

    EXPECT_EQ(r.Outcome, TScanOutcome::Done);
    ASSERT_EQ(r.Finds.size(), 2u);
    EXPECT_EQ(r.Finds[0].Address, 0);
    EXPECT_FALSE(r.Finds[0].Slow);
    EXPECT_EQ(r.Finds[1].Address, 1);
    EXPECT_EQ(r.Finds[1].BaudCode, 4);
    EXPECT_TRUE(r.Finds[1].Slow);
    EXPECT_EQ(s.send_count, 11);
    EXPECT_EQ(s.setconfig_args[1], 9600) << "re-probed at its own rate";
    EXPECT_EQ(s.setconfig_args[2], 600) << "twice the longer of the two it took";
}

// With --first a module found late ends the scan at its rate, and Stop
// from the progress during the second probes ends it there.
TEST_F(ScanLate, FirstAndStopCountTheSecondProbesToo)
{
    fake_state &s = Fake();
    std::vector<fake_reply> script(2, Silent());
    script.insert(script.end(), {Chars("DIO-"), Chars("DIO-"), Chars("3232"), Chars("1.07")});
    Script(s, script);
    LateReply(s, 1, 0, 9600, 20000);
    TScanOptions o = Plan({0, 1}, {4, 8});
    o.StopAtFirst = true;
    TScanResult r = ScanModules(link_, o);
    EXPECT_EQ(r.Outcome, TScanOutcome::Done);
    ASSERT_EQ(r.Finds.size(), 1u);
    EXPECT_EQ(s.send_count, 6) << "115200 Bd is never probed";

    fake_state &t = Fake();
    Script(t, std::vector<fake_reply>(2, Silent()));
    LateReply(t, 1, 0, 9600, 20000);
    LateReply(t, 1, 1, 9600, 20000);
    o.StopAtFirst = false;
    int reports = 0;
    r = ScanModules(link_, o, {}, [&](const TScanProgress &) { return ++reports < 3; });
    EXPECT_EQ(r.Outcome, TScanOutcome::Stopped);
    EXPECT_EQ(t.send_count, 3) << "the second probe of 0, and no more";

    // What the progress line counts on: each rate's late window beside its
    // probes, 27 ms each at 9600 Bd without a guard, and 100 ms.
    TScanOptions one;
    one.Addresses = {5};
    one.BaudCodes = {4};
    EXPECT_EQ(ScanTimeoutTotal(one), 127ms);
    one.Addresses.clear();
    EXPECT_EQ(ScanTimeoutTotal(one), 0ms) << "no probe, no window";
}

// A damaged reply followed by a lost one is still somebody at the address:
// reported, as a probable collision, never dropped. Every try of the
// retries is made.
TEST_F(ScanLate, ADamagedReplyThenALostOneKeepsTheAddress)
{
    fake_state &s = Fake();
    Script(s, {Silent(), Damaged(), Silent(), Silent(), Silent()});
    const TScanResult r = ScanModules(link_, Plan({0, 1, 2}, {4}));

    ASSERT_EQ(r.Finds.size(), 1u);
    EXPECT_EQ(r.Finds[0].Address, 1);
    EXPECT_TRUE(r.Finds[0].Collision);
    EXPECT_EQ(r.Finds[0].Tries, 3u);
    EXPECT_EQ(s.send_count, 5) << "0 once, 1 three times, 2 once";
    EXPECT_EQ(s.requests[4][0], 2);
}

// Addresses 0 and 255 are probed like any other, and late replies from
// them count; an address that answered late but not its second probe is
// probed again once, and listed nowhere.
TEST_F(ScanLate, TheEdgeAddressesAreHeardLateAndASilentSecondProbeIsTheEnd)
{
    fake_state &s = Fake();
    std::vector<fake_reply> script(3, Silent());
    script.insert(script.end(), {Chars("DIO-"), Chars("DIO-"), Chars("3232"), Chars("1.07"),
                                 Silent(), Chars("DIO-"), Chars("DIO-"), Chars("3232"),
                                 Chars("1.07")});
    Script(s, script);
    LateReply(s, 1, 0, 9600, 20000);
    LateReply(s, 3, 128, 9600, 20000);
    LateReply(s, 3, 255, 9600, 20000);
    const TScanResult r = ScanModules(link_, Plan({0, 128, 255}, {4}));
    ASSERT_EQ(r.Finds.size(), 2u);
    EXPECT_EQ(r.Finds[0].Address, 0);
    EXPECT_EQ(r.Finds[1].Address, 255);
    EXPECT_TRUE(r.Finds[0].Slow && r.Finds[1].Slow);
    EXPECT_EQ(s.send_count, 12) << "three probes, then 0, 128 and 255 again";
    EXPECT_EQ(s.requests[7][0], 128);
    EXPECT_EQ(s.requests[8][0], 255);
}

// A module that answered its probe but not its identity read in time is
// read again with the late ones, at a slow module's pace, and listed once.
TEST_F(ScanLate, AnIdentityReadOutOfTimeIsReadAgainSlowly)
{
    fake_state &s = Fake();
    Script(s, {Chars("DIO-"), Silent(), Silent(), Silent(), Chars("DIO-"), Chars("DIO-"),
               Chars("3232"), Chars("1.07")});
    const TScanResult r = ScanModules(link_, Plan({3}, {4}));
    ASSERT_EQ(r.Finds.size(), 1u);
    EXPECT_EQ(r.Finds[0].Name, "DIO-3232 v.1.07");
    EXPECT_TRUE(r.Finds[0].Slow);
    EXPECT_EQ(s.send_count, 8);
    EXPECT_GT(s.setconfig_args[2], 250) << "at a slow module's pace";

    // One whose identity read came back damaged is a collision, whatever
    // its last try did: listed at once, not read again.
    fake_state &t = Fake();
    Script(t, {Chars("DIO-"), Damaged(), Silent(), Silent()});
    const TScanResult c = ScanModules(link_, Plan({3}, {4}));
    ASSERT_EQ(c.Finds.size(), 1u);
    EXPECT_TRUE(c.Finds[0].Collision);
    EXPECT_FALSE(c.Finds[0].Slow);
    EXPECT_EQ(t.send_count, 4);
}

// A library that claims more late replies than its array holds is read no
// further than the array.
TEST_F(ScanLate, ALibraryClaimingTooManyLateRepliesIsCut)
{
    fake_state &s = Fake();
    s.late_claim = 1000;
    DrvSetLibraryDirectory(Fakes / "late");
    int32_t handle = 0;
    ASSERT_EQ(DrvInit(ifPci, handle, TInitParams{}), 0);
    TDataArray rq{};
    int32_t x = 0, status = 0;
    TDataArray rp{};
    DrvSend(ifPci, handle, rq, rp, x, status);
    std::vector<TLateReply> got;
    EXPECT_EQ(DrvLate(ifPci, handle, 0, got), 0);
    EXPECT_EQ(got.size(), std::size_t(Q417_LATE_MAX));
    DrvDone(ifPci, handle);
}

// A library without the Late entry scans as before: no late window, and
// nothing re-probed.
TEST_F(ScanLate, ALibraryWithoutLateRepliesScansAsBefore)
{
    fake_state &s = Fake("full");
    const TScanResult r = ScanModules(link_, Plan({0, 1, 2}, {4, 8}));
    EXPECT_EQ(r.Outcome, TScanOutcome::Done);
    EXPECT_TRUE(r.Finds.empty());
    EXPECT_EQ(s.send_count, 6);
    EXPECT_EQ(std::string(s.log).find("Late"), std::string::npos);
}

} // namespace
