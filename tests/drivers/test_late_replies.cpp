// Whose a late or damaged reply is, by its seq and address bytes, as the
// drivers decide it (LateReplies.h).
#include "LateReplies.h"

#include <gtest/gtest.h>

namespace {

using Clock = drv::LateReplies::Clock;
using namespace std::chrono_literals;

wire::Request Request(uint8_t seq, uint8_t address)
{
    return wire::Request{seq, address, 200, 0, 0, {}};
}

struct Case {
    const char *what;
    uint8_t seq, address;        // the damaged reply's bytes
    bool current, late;          // whose it is taken to be
    std::vector<uint8_t> kept;   // the addresses kept as late
};

// Open: seq 0x10 to address 5 and seq 0x11 to address 7, both unanswered;
// in progress: seq 0x12 to address 7 again (a retry).
TEST(LateReplies, ADamagedReplyGoesToTheRequestItsBytesName)
{
    const Case cases[] = {
        {"whole bytes of an earlier request", 0x10, 5, false, true, {5}},
        {"an earlier one's, its address hit", 0x10, 5 ^ 0x20, false, true, {5}},
        {"an earlier one's, its seq hit", 0x10 ^ 0x04, 5, false, true, {5}},
        {"the exchange in progress", 0x12, 7, true, false, {}},
        {"the exchange in progress, its seq hit", 0x12 ^ 0x40, 7, true, false, {}},
        {"both bytes hit: nobody's", 0x13, 5 ^ 0x30, false, false, {}},
        {"as near the exchange as an earlier one", 0x13, 7, true, true, {7}},
        {"as near all three", 0x10, 7, true, true, {5, 7}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        drv::LateReplies l;
        const Clock::time_point t0 = Clock::now();
        l.Sent(Request(0x10, 5), 9600, t0);
        l.Sent(Request(0x11, 7), 9600, t0 + 1ms);
        const wire::Request now = Request(0x12, 7);
        l.Sent(now, 9600, t0 + 2ms);
        const drv::LateReplies::Whose w = l.Damaged(c.seq, c.address, &now, t0 + 5ms);
        EXPECT_EQ(w.current, c.current);
        EXPECT_EQ(w.late, c.late);
        std::vector<uint8_t> kept;
        while (!l.Empty())
            kept.push_back(l.Take().address);
        EXPECT_EQ(kept, c.kept);
    }
}

// A whole reply is late only for an unanswered request from the module that
// was asked, once; the time is the request's sending to the reply.
TEST(LateReplies, AWholeReplyIsLateOnceForAnUnansweredRequest)
{
    drv::LateReplies l;
    const Clock::time_point t0 = Clock::now();
    l.Sent(Request(1, 5), 19200, t0);
    l.Sent(Request(2, 6), 19200, t0);
    l.Answered(Request(2, 6));
    EXPECT_FALSE(l.Heard(wire::Reply{1, 4, 0, 0, {}}, t0 + 30ms)) << "another module";
    EXPECT_FALSE(l.Heard(wire::Reply{2, 6, 0, 0, {}}, t0 + 30ms)) << "a copy of a reply taken";
    EXPECT_TRUE(l.Heard(wire::Reply{1, 5, 0, 0, {}}, t0 + 30ms));
    EXPECT_FALSE(l.Heard(wire::Reply{1, 5, 0, 0, {}}, t0 + 31ms)) << "once";
    ASSERT_EQ(l.Size(), 1u);
    const drv::LateReply r = l.Take();
    EXPECT_EQ(r.address, 5);
    EXPECT_EQ(r.rate, 19200);
    EXPECT_EQ(r.after, 30ms);
}

// What a host has not asked for is kept up to the newest 256; a seq that
// comes round again belongs to its new request.
TEST(LateReplies, TheNewestAreKeptAndASeqUsedAgainIsTheNewRequests)
{
    drv::LateReplies l;
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < 300; ++i) {
        l.Sent(Request(uint8_t(i), uint8_t(i % 200)), 9600, t0);
        EXPECT_TRUE(l.Heard(wire::Reply{uint8_t(i), uint8_t(i % 200), 0, 0, {}}, t0 + 1ms));
    }
    ASSERT_EQ(l.Size(), drv::LateReplies::Kept);
    EXPECT_EQ(l.Take().address, 300 - 256) << "the oldest went first";

    drv::LateReplies wrap;
    wrap.Sent(Request(7, 5), 9600, t0);
    wrap.Sent(Request(7, 9), 19200, t0 + 1ms); // 256 requests later, unanswered before
    EXPECT_FALSE(wrap.Heard(wire::Reply{7, 5, 0, 0, {}}, t0 + 2ms));
    EXPECT_TRUE(wrap.Heard(wire::Reply{7, 9, 0, 0, {}}, t0 + 2ms));
    EXPECT_EQ(wrap.Take().rate, 19200);
}

} // namespace
