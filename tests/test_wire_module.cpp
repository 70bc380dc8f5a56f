// The wire frames and the simulated module that our drivers and the
// simulator share.
#include "BusTiming.h"
#include "SimModule.h"
#include "Wire.h"
#include "q417drv.h"

#include <gtest/gtest.h>

#include <string>

using namespace wire;

namespace {

Request Rq(uint8_t cmd, uint8_t sub, std::array<uint8_t, 4> d = {}, uint8_t address = 1)
{
    Request r;
    r.seq = 9;
    r.address = address;
    r.cmd = cmd;
    r.sub = sub;
    r.d = d;
    return r;
}

} // namespace

TEST(Wire, FramesRoundTripAndUseTheStandardCrc)
{
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16(check), 0x4B37);

    const Request rq{200, 63, 103, 0, 0x5A, {1, 2, 3, 0xFF}};
    const RequestFrame f = Encode(rq);
    Request back;
    ASSERT_EQ(Decode(f, back), Decoded::Ok);
    EXPECT_EQ(back, rq);

    const Reply rp{7, 1, 0, 0xA5, {0xA5, 0x5A, 0, 0xFF}};
    const ReplyFrame g = Encode(rp);
    Reply rback;
    ASSERT_EQ(Decode(g, rback), Decoded::Ok);
    EXPECT_EQ(rback, rp);

    // A request is never taken for a reply, nor a truncated frame for either.
    EXPECT_NE(Decode(f, rback), Decoded::Ok);
    EXPECT_EQ(Decode(std::span<const uint8_t>(g.data(), 10), rback), Decoded::BadSize);
}

// A datagram carries one frame and nothing more: a frame with bytes after
// it, even a second whole frame, is not taken for the frame it begins with.
TEST(Wire, TrailingBytesAreNoFrame)
{
    const RequestFrame rq = Encode(Request{9, 1, 200, 0, 0, {}});
    const ReplyFrame rp = Encode(Reply{9, 1, 0, 0, {1, 2, 3, 4}});
    auto joined = [](auto frame, std::vector<uint8_t> tail) {
        std::vector<uint8_t> bytes(frame.begin(), frame.end());
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return bytes;
    };
    const std::vector<uint8_t> tails[] = {{0x00}, {0xFF, 0xFF}, joined(rq, {}), joined(rp, {})};
    for (const std::vector<uint8_t> &tail : tails) {
        Request r;
        EXPECT_EQ(Decode(joined(rq, tail), r), Decoded::BadSize) << tail.size();
        Reply p;
        EXPECT_EQ(Decode(joined(rp, tail), p), Decoded::BadSize) << tail.size();
    }
}

TEST(Wire, EveryBitFlipIsRejected)
{
    const ReplyFrame good = Encode(Reply{3, 1, 0, 0, {0x12, 0x34, 0x56, 0x78}});
    for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
        ReplyFrame bad = good;
        bad[bit / 8] ^= uint8_t(1u << (bit % 8));
        Reply r;
        EXPECT_NE(Decode(bad, r), Decoded::Ok) << "bit " << bit;
    }
}

// The converter's datagrams: the rate little-endian as the documented
// layout says, decoded only whole, and never mistaken for a module frame or
// for each other.
TEST(Wire, ConverterDatagrams)
{
    const ConfigFrame c = Encode(ConverterConfig{0x81, 115200});
    EXPECT_EQ(c, (ConfigFrame{ConfigStart, 0x81, 0x00, 0xC2, 0x01, 0x00, c[6], c[7]}));
    const ConfigAckFrame a = Encode(ConverterAck{0x81, 1, 9600});
    EXPECT_EQ(a, (ConfigAckFrame{ConfigAckStart, 0x81, 1, 0x80, 0x25, 0x00, 0x00, a[7], a[8]}));

    ConverterConfig cb;
    ASSERT_EQ(Decode(c, cb), Decoded::Ok);
    EXPECT_EQ(cb, (ConverterConfig{0x81, 115200}));
    ConverterAck ab;
    ASSERT_EQ(Decode(a, ab), Decoded::Ok);
    EXPECT_EQ(ab, (ConverterAck{0x81, 1, 9600}));

    ConfigAckFrame bad = a;
    bad[4] ^= 0x01;
    EXPECT_EQ(Decode(bad, ab), Decoded::BadCrc);
    std::vector<uint8_t> longer(c.begin(), c.end());
    longer.push_back(0);
    EXPECT_EQ(Decode(longer, cb), Decoded::BadSize);

    Reply rp;
    EXPECT_NE(Decode(a, cb), Decoded::Ok);
    EXPECT_NE(Decode(Encode(Reply{}), ab), Decoded::Ok);
    EXPECT_NE(Decode(a, rp), Decoded::Ok);

    // The silence guard's forms: the guard after the rate, and the silence
    // datagram; the 10-byte form is never an 8-byte one.
    const GuardedConfigFrame g = Encode(GuardedConfig{0x81, 115200, 500});
    EXPECT_EQ(g, (GuardedConfigFrame{ConfigStart, 0x81, 0x00, 0xC2, 0x01, 0x00, 0xF4, 0x01, g[8],
                                     g[9]}));
    EXPECT_EQ(Decode(g, cb), Decoded::BadSize);
    const SilenceFrame q = Encode(Silence{0x81, 7});
    EXPECT_EQ(q, (SilenceFrame{SilenceStart, 0x81, 7, q[3], q[4]}));
    Silence qb;
    ASSERT_EQ(Decode(q, qb), Decoded::Ok);
    EXPECT_EQ(qb, (Silence{0x81, 7}));
}

TEST(Wire, ScannerFindsFramesInAStream)
{
    const ReplyFrame a = Encode(Reply{1, 1, 0, 0, {ReplyStart, 2, 3, 4}});
    const ReplyFrame b = Encode(Reply{2, 1, 0, 0, {5, 6, 7, 8}});
    ReplyFrame damaged = a;
    damaged[6] ^= 0x10;

    FrameScanner s(ReplyStart, ReplySize);
    std::vector<uint8_t> stream = {0x00, ReplyStart, 0x13}; // noise with a false start
    stream.insert(stream.end(), damaged.begin(), damaged.end());
    stream.insert(stream.end(), a.begin(), a.end());
    stream.insert(stream.end(), b.begin(), b.end());

    // Fed a byte at a time, as a slow line delivers it.
    std::vector<ReplyFrame> found;
    for (uint8_t byte : stream) {
        s.Feed(std::span<const uint8_t>(&byte, 1));
        ReplyFrame f;
        while (s.Next(f))
            found.push_back(f);
    }
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], a);
    EXPECT_EQ(found[1], b);
    EXPECT_GE(s.BadCrcCount(), 1u);

    s.Reset();
    EXPECT_EQ(s.BadCrcCount(), 0u);
    ReplyFrame f;
    s.Feed(std::span<const uint8_t>(a.data(), 5));
    EXPECT_FALSE(s.Next(f));
    s.Feed(std::span<const uint8_t>(a.data() + 5, a.size() - 5));
    EXPECT_TRUE(s.Next(f));
}

TEST(SimModule, IdentityAndRegisters)
{
    SimModule m(1);
    std::string id;
    for (uint8_t sub = 0; sub < 3; ++sub) {
        const Reply r = m.Handle(Rq(200, sub));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.seq, 9);
        id.append(r.d.begin(), r.d.end());
    }
    EXPECT_EQ(id, "DIO-32321.07");
    EXPECT_EQ(m.Handle(Rq(200, 3)).status, Q417_E_MOD_CMD);

    Reply r = m.Handle(Rq(103, 0, {36, 36, 0x5A, 0x5A}));
    EXPECT_EQ(r.status, 0);
    r = m.Handle(Rq(102, 0, {36, 36, 0, 0}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.d[2], 0x5A);
    EXPECT_EQ(m.Handle(Rq(102, 0, {62, 62})).d[2], 4);
    EXPECT_EQ(m.Handle(Rq(102, 0, {63, 63})).d[2], 1);
}

TEST(SimModule, RefusesWhatItCannotDo)
{
    SimModule m(1);
    struct Row {
        Request rq;
        int status;
    };
    const Row rows[] = {
        {Rq(103, 0, {33, 33, 1, 2}), Q417_E_MOD_COPY},  // value copies disagree
        {Rq(103, 0, {33, 34, 1, 1}), Q417_E_MOD_COPY},  // register copies disagree
        {Rq(102, 0, {44, 44}), Q417_E_MOD_REG},         // no such register
        {Rq(103, 0, {31, 31, 1, 1}), Q417_E_MOD_REG},
        {Rq(103, 0, {61, 61, 1, 1}), Q417_E_MOD_REG},
        {Rq(103, 0, {62, 62, 9, 9}), Q417_E_MOD_VALUE}, // baud code above 8
        {Rq(103, 1, {33, 33, 1, 1}), Q417_E_MOD_CMD},
        {Rq(0, 0), Q417_E_MOD_CMD},
        {Rq(1, 63), Q417_E_MOD_CMD},
        {Rq(101, 1), Q417_E_MOD_CMD},
        {Rq(7, 0), Q417_E_MOD_CMD},
    };
    for (const Row &row : rows) {
        const Reply r = m.Handle(row.rq);
        EXPECT_EQ(r.status, row.status) << int(row.rq.cmd) << "/" << int(row.rq.d[0]);
        EXPECT_EQ(r.d, (std::array<uint8_t, 4>{})) << int(row.rq.cmd);
    }
    // Nothing refused was stored.
    EXPECT_EQ(m.Register(33), 0xFF);
    EXPECT_EQ(m.Register(62), 4);
    EXPECT_EQ(m.Handle(Rq(103, 0, {62, 62, 8, 8})).status, 0);
}

TEST(SimModule, NewAddressAndBaudApplyAtRestart)
{
    SimBus bus;
    bus.Add(SimModule(1));
    ASSERT_EQ(bus.Handle(Rq(103, 0, {63, 63, 7, 7}))->status, 0);
    ASSERT_EQ(bus.Handle(Rq(103, 0, {62, 62, 6, 6}))->status, 0);
    ASSERT_EQ(bus.Handle(Rq(103, 0, {32, 32, 0x81, 0x81}))->status, 0);
    // The read-back at the old address and rate still works.
    EXPECT_EQ(bus.Handle(Rq(102, 0, {63, 63}))->d[2], 7);
    EXPECT_FALSE(bus.Handle(Rq(100, 0, {}, 7)));
    EXPECT_FALSE(bus.Handle(Rq(100, 0), 38400));

    SimModule &m = bus.Modules().front();
    ASSERT_EQ(bus.Handle(Rq(101, 0))->status, 0);
    EXPECT_EQ(m.Status(), 0u);
    m.Restart();
    EXPECT_FALSE(bus.Handle(Rq(100, 0)));
    EXPECT_FALSE(bus.Handle(Rq(100, 0, {}, 7))) << "still at 9600 Bd, the module at 38400";
    bus.SetRate(38400);
    const auto r = bus.Handle(Rq(100, 0, {}, 7));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->address, 7);
    EXPECT_EQ(r->d[0], StatusReset);
    EXPECT_EQ(m.BaudCode(), 6);
    EXPECT_EQ(m.Outputs(), 0x81u); // outputs take their initial state
}

TEST(SimModule, InputsFollowTheirSource)
{
    SimModule m(1);
    EXPECT_EQ(m.Status(), StatusPowerUp);

    // Loopback through both negations: with the defaults (all negated) the
    // inputs read what was written.
    ASSERT_EQ(m.Handle(Rq(1, 64, {0x01, 0x80, 0x00, 0xF0})).status, 0);
    EXPECT_EQ(m.Handle(Rq(0, 64)).d, (std::array<uint8_t, 4>{0x01, 0x80, 0x00, 0xF0}));
    ASSERT_EQ(m.Handle(Rq(103, 0, {33, 33, 0x00, 0x00})).status, 0); // DIN0..7 not negated
    EXPECT_EQ(m.Handle(Rq(0, 64)).d[0], 0xFE);
    ASSERT_EQ(m.Handle(Rq(103, 0, {34, 34, 0x00, 0x00})).status, 0); // DOUT0..7 not negated
    EXPECT_EQ(m.Handle(Rq(0, 64)).d[0], 0x01);

    m.SetInputSource(InputSource::Fixed, 0x12345678);
    EXPECT_EQ(m.Handle(Rq(0, 64)).d, (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));

    m.SetInputSource(InputSource::Pattern);
    const uint32_t a = m.Inputs(), b = m.Inputs();
    EXPECT_NE(a, b);
    EXPECT_EQ(__builtin_popcount(a), 1);
}

namespace {

// Negation of every input and output channel, register by register.
void SetNegation(SimModule &m, uint32_t in, uint32_t out)
{
    for (uint8_t k = 0; k < 4; ++k) {
        const uint8_t i = uint8_t(in >> 8 * k), o = uint8_t(out >> 8 * k);
        ASSERT_EQ(m.Handle(Rq(103, 0, {uint8_t(33 + 3 * k), uint8_t(33 + 3 * k), i, i})).status, 0);
        ASSERT_EQ(m.Handle(Rq(103, 0, {uint8_t(34 + 3 * k), uint8_t(34 + 3 * k), o, o})).status, 0);
    }
}

uint32_t WriteThenRead(SimModule &m, uint32_t w)
{
    m.Handle(Rq(1, 64, {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)}));
    return m.Inputs();
}

bool Bit(uint32_t w, unsigned n) { return w >> n & 1u; }

} // namespace

// Only the faulty channels change. A stuck input terminal is read through
// the input negation; a stuck output terminal is past the output negation,
// so only the input negation shows; crossed wires carry each output level,
// output negation included, to the other input.
TEST(SimModule, ChannelFaultsChangeOnlyTheirChannels)
{
    ChannelFaults f;
    f.Stick(false, 5, true);
    f.Stick(true, 9, false);
    f.Swap(3, 4);
    for (uint32_t inNeg : {0xFFFFFFFFu, 0u, 0x5A0FF0B5u})
        for (uint32_t outNeg : {0xFFFFFFFFu, 0u, 0xA5F00F4Au}) {
            SimModule clean(1), m(1);
            m.SetChannelFaults(f);
            SetNegation(clean, inNeg, outNeg);
            SetNegation(m, inNeg, outNeg);
            for (uint32_t written : {0u, 0xFFFFFFFFu, 0x12345670u}) {
                const uint32_t ref = WriteThenRead(clean, written), got = WriteThenRead(m, written);
                SCOPED_TRACE(::testing::Message() << std::hex << inNeg << " " << outNeg << " "
                                                  << written);
                EXPECT_EQ(got & ~0x238u, ref & ~0x238u);
                EXPECT_EQ(Bit(got, 5), !Bit(inNeg, 5));
                EXPECT_EQ(Bit(got, 9), Bit(inNeg, 9));
                EXPECT_EQ(Bit(got, 4), bool(Bit(written, 3) ^ Bit(outNeg, 3) ^ Bit(inNeg, 4)));
                EXPECT_EQ(Bit(got, 3), bool(Bit(written, 4) ^ Bit(outNeg, 4) ^ Bit(inNeg, 3)));
            }
        }
}

TEST(SimModule, ChannelFaultsCompose)
{
    SimModule m(1); // all negated: a clean loopback reads what was written
    ChannelFaults f;
    f.Swap(3, 4);
    f.Swap(4, 5); // inputs 3, 4, 5 now hear outputs 4, 5, 3
    f.Stick(true, 3, false);
    m.SetChannelFaults(f);
    EXPECT_EQ(WriteThenRead(m, 0x00000010), 0x00000028u); // output 3 at 0 reads 1 at input 5
    EXPECT_EQ(WriteThenRead(m, 0x00000020), 0x00000030u);
    m.SetInputSource(InputSource::Fixed, 0x12345678);     // no wires to break
    EXPECT_EQ(WriteThenRead(m, 0), 0x12345678u);
}

// Two modules at different rates share one bus: the master reaches each
// only at its rate, and a link with a rate of its own (the pty beside the
// converter) does not move the bus's.
TEST(SimBus, EachModuleHearsOnlyAtItsOwnRate)
{
    SimBus bus;
    bus.Add(SimModule(1));
    bus.Add(SimModule(2, 8));
    EXPECT_EQ(bus.Rate(), 9600) << "before the master sets one";
    EXPECT_TRUE(bus.Handle(Rq(100, 0, {}, 1)));
    EXPECT_FALSE(bus.Handle(Rq(100, 0, {}, 2)));

    bus.SetRate(115200);
    EXPECT_FALSE(bus.Handle(Rq(100, 0, {}, 1)));
    EXPECT_TRUE(bus.Handle(Rq(100, 0, {}, 2)));
    EXPECT_TRUE(bus.Handle(Rq(100, 0, {}, 1), 9600));
    EXPECT_EQ(bus.Rate(), 115200);
    // A rate that is not a module rate reaches nobody.
    EXPECT_FALSE(bus.Handle(Rq(100, 0, {}, 1), 14400));
    EXPECT_FALSE(bus.Handle(Rq(100, 0, {}, 2), 0));

    // A second module at address 1, at 115200 Bd: each of the two hears
    // only its own rate, and keeps its own registers.
    bus.Add(SimModule(1, 8));
    ASSERT_EQ(bus.Handle(Rq(103, 0, {33, 33, 0x11, 0x11}))->status, 0);
    EXPECT_EQ(bus.Handle(Rq(102, 0, {33, 33}), 9600)->d[2], 0xFF);
    EXPECT_EQ(bus.Handle(Rq(102, 0, {33, 33}))->d[2], 0x11);
}

// Worked by hand: 10 bits a byte, 12 request and 11 reply bytes.
TEST(BusTiming, ExchangeCostsBothFramesAndTheTurnaround)
{
    using std::chrono::microseconds;
    using std::chrono::duration_cast;
    EXPECT_EQ(bus::WireTime(12, 9600), microseconds(12500));
    EXPECT_EQ(duration_cast<microseconds>(bus::ExchangeTime(9600, bus::DefaultTurnaround)),
              microseconds(24958)); // 230 bits / 9600 Bd + 1 ms
    EXPECT_EQ(duration_cast<microseconds>(bus::ExchangeTime(115200, microseconds(0))),
              microseconds(1996));
    EXPECT_EQ(bus::WireTime(12, 600), std::chrono::milliseconds(200));
    // Rounded up, so that no reply leaves before its time.
    EXPECT_EQ(bus::WireTime(1, 115200).count(), 86806);

    EXPECT_EQ(bus::BaudCode(115200), 8);
    EXPECT_EQ(bus::BaudCode(600), 0);
    for (int32_t bd : {0, -9600, 14400, 230400})
        EXPECT_FALSE(bus::BaudCode(bd)) << bd;
    EXPECT_EQ(bus::Rate(9), 0);

    EXPECT_EQ(bus::ParseTurnaroundMs("0"), microseconds(0));
    for (const char *bad : {"", "-1", "1001", "2ms", " 3"})
        EXPECT_FALSE(bus::ParseTurnaroundMs(bad)) << bad;
    EXPECT_FALSE(bus::ParseTimingMode("off"));
}
