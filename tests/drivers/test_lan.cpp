// The LAN driver against a converter played by the test itself, to send
// what the simulator never does: replies from a stranger, a steady stream
// of stale replies.
#include "Session.h"
#include "Timing.h"
#include "Wire.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The few socket calls that differ between Winsock and BSD sockets.
#ifdef _WIN32
using SocketFd = SOCKET;
using AddrLen = int;
struct Winsock {
    Winsock()
    {
        WSADATA d;
        ::WSAStartup(MAKEWORD(2, 2), &d);
    }
    ~Winsock() { ::WSACleanup(); }
};
void CloseFd(SocketFd fd)
{
    ::closesocket(fd);
}
bool WaitReadable(SocketFd fd, int ms)
{
    WSAPOLLFD p{fd, POLLRDNORM, 0};
    return ::WSAPoll(&p, 1, ms) == 1;
}
#else
using SocketFd = int;
using AddrLen = socklen_t;
struct Winsock {};
void CloseFd(SocketFd fd)
{
    ::close(fd);
}
bool WaitReadable(SocketFd fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}
#endif

struct Socket {
    Winsock winsock;
    SocketFd fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    Socket()
    {
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        AddrLen len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    }
    ~Socket() { CloseFd(fd); }
    void SendTo(const sockaddr_in &to, const wire::Reply &r, std::size_t trailing = 0) const
    {
        std::vector<uint8_t> bytes(wire::ReplySize + trailing, 0x00);
        const wire::ReplyFrame f = wire::Encode(r);
        std::copy(f.begin(), f.end(), bytes.begin());
        ::sendto(fd, reinterpret_cast<const char *>(bytes.data()), int(bytes.size()), 0,
                 reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    // The request the driver sent, if one came within `ms`.
    std::optional<wire::Request> Received(int ms) const
    {
        uint8_t buf[64];
        wire::Request rq;
        if (!WaitReadable(fd, ms))
            return std::nullopt;
        const auto n = ::recv(fd, reinterpret_cast<char *>(buf), sizeof buf, 0);
        if (n <= 0 || wire::Decode(std::span<const uint8_t>(buf, std::size_t(n)), rq) !=
                          wire::Decoded::Ok)
            return std::nullopt;
        return rq;
    }
};

// What a converter answers to a configuration datagram: by default it
// takes the rate, as a real one does for a rate its bus can run at.
using Configure = std::function<void(const Socket &converter, const wire::ConverterConfig &,
                                     const sockaddr_in &driver)>;

void Acknowledge(const Socket &converter, const wire::ConverterAck &ack, const sockaddr_in &to)
{
    const wire::ConfigAckFrame f = wire::Encode(ack);
    ::sendto(converter.fd, reinterpret_cast<const char *>(f.data()), int(f.size()), 0,
             reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

void AcceptRate(const Socket &converter, const wire::ConverterConfig &c, const sockaddr_in &driver)
{
    Acknowledge(converter, {c.seq, uint8_t(wire::ConfigResult::Accepted), c.rate}, driver);
}

// What a converter that knows the silence guard answers to its form of the
// configuration; a converter without one (null) leaves that form alone.
using ConfigureGuarded = std::function<void(const Socket &converter, const wire::GuardedConfig &,
                                            const sockaddr_in &driver)>;

void AcceptGuarded(const Socket &converter, const wire::GuardedConfig &c, const sockaddr_in &driver)
{
    Acknowledge(converter, {c.seq, uint8_t(wire::ConfigResult::Accepted), c.rate}, driver);
}

// Receives datagrams on `converter` until one request comes and hands it,
// with the driver's address, to `answer`, on a thread of its own while the
// driver waits; configuration datagrams before it go to `configure` or
// `guarded`.
class FakeConverter {
public:
    using Answer = std::function<void(const Socket &converter, const wire::Request &,
                                      const sockaddr_in &driver)>;
    explicit FakeConverter(Answer answer, Configure configure = AcceptRate,
                           ConfigureGuarded guarded = nullptr)
        : thread_([this, answer, configure, guarded] {
              while (WaitReadable(converter.fd, 2000)) {
                  uint8_t buf[64];
                  sockaddr_in from{};
                  AddrLen len = sizeof from;
                  const auto n = ::recvfrom(converter.fd, reinterpret_cast<char *>(buf), sizeof buf,
                                            0, reinterpret_cast<sockaddr *>(&from), &len);
                  if (n <= 0)
                      return;
                  const std::span<const uint8_t> got(buf, std::size_t(n));
                  wire::ConverterConfig c;
                  if (wire::Decode(got, c) == wire::Decoded::Ok) {
                      configure(converter, c, from);
                      continue;
                  }
                  if (wire::GuardedConfig g; wire::Decode(got, g) == wire::Decoded::Ok) {
                      if (guarded)
                          guarded(converter, g, from);
                      continue;
                  }
                  wire::Request rq;
                  if (wire::Decode(got, rq) == wire::Decoded::Ok)
                      answer(converter, rq, from);
                  return;
              }
          })
    {
    }
    ~FakeConverter() { thread_.join(); }
    Socket converter;

private:
    std::thread thread_;
};

wire::Reply ReplyTo(const wire::Request &rq, uint8_t fill)
{
    return wire::Reply{rq.seq, rq.address, 0, rq.x, {fill, fill, fill, fill}};
}

TEST(LanExchange, OnlyTheConvertersReplyWithTheRightSeqIsTaken)
{
    Socket stranger;
    FakeConverter conv([&](const Socket &converter, const wire::Request &rq, const sockaddr_in &driver) {
        stranger.SendTo(driver, ReplyTo(rq, 0xEE));
        wire::Reply stale = ReplyTo(rq, 0xDD);
        --stale.seq;
        converter.SendTo(driver, stale);
        wire::Reply other = ReplyTo(rq, 0xCC);
        ++other.address;
        converter.SendTo(driver, other);
        std::this_thread::sleep_for(20ms);
        converter.SendTo(driver, ReplyTo(rq, 0x11));
    });
    Session s(ifLan);
    ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(conv.converter.addr.sin_port), 1000), 0);
    const Answer a = s.Call(3, CmdReadStatus, SubNone, 0x42);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.d, (std::array<uint8_t, 4>{0x11, 0x11, 0x11, 0x11}));
    EXPECT_EQ(a.x, 0x42);
    EXPECT_TRUE(s.Late(0).empty()) << "none of them answered an earlier request";
}

// Stale replies keep arriving but none is the awaited one: the exchange
// still ends at its time-out, not a time-out after the last datagram. The
// stream lasts at least a second, so a wait that each datagram renews
// lasts 1.2 s; the bound leaves the rest to a busy machine (at most 212 ms
// measured, under memcheck).
TEST(LanExchange, AStreamOfStaleRepliesDoesNotExtendTheWait)
{
    std::atomic<bool> stop{false};
    FakeConverter conv([&](const Socket &converter, const wire::Request &rq, const sockaddr_in &driver) {
        wire::Reply stale = ReplyTo(rq, 0xDD);
        stale.seq = uint8_t(rq.seq + 100);
        for (int i = 0; i < 200 && !stop; ++i) {
            converter.SendTo(driver, stale);
            std::this_thread::sleep_for(5ms);
        }
    });
    Session s(ifLan);
    ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(conv.converter.addr.sin_port), 200), 0);
    Answer a;
    const auto took = Elapsed([&] { a = s.Call(1, CmdReadStatus, SubNone); });
    stop = true;
    EXPECT_EQ(a.status, Q417_E_TIMEOUT);
    EXPECT_GE(took, 195ms);
    EXPECT_LE(took, 800ms);
}

// The answer to an exchange that gave up may still come, damaged, before
// the next request goes: it belongs to no exchange, and the next one takes
// its own reply rather than a CRC error.
TEST(LanExchange, ADamagedLateReplyIsDiscardedBeforeTheNextRequest)
{
    Socket converter;
    std::atomic<bool> lateSent{false};
    std::thread conv([&] {
        sockaddr_in driver{};
        wire::Request rq;
        const auto next = [&] {
            uint8_t buf[64];
            AddrLen len = sizeof driver;
            if (!WaitReadable(converter.fd, 2000))
                return false;
            const auto n = ::recvfrom(converter.fd, reinterpret_cast<char *>(buf), sizeof buf, 0,
                                      reinterpret_cast<sockaddr *>(&driver), &len);
            return n > 0 && wire::Decode(std::span<const uint8_t>(buf, std::size_t(n)), rq) ==
                                wire::Decoded::Ok;
        };
        if (!next())
            return;
        std::this_thread::sleep_for(150ms);
        wire::ReplyFrame late = wire::Encode(ReplyTo(rq, 0xDD));
        late[5] ^= 0x10;
        ::sendto(converter.fd, reinterpret_cast<const char *>(late.data()), int(late.size()), 0,
                 reinterpret_cast<const sockaddr *>(&driver), sizeof driver);
        lateSent = true;
        if (next())
            converter.SendTo(driver, ReplyTo(rq, 0x11));
    });
    Session s(ifLan);
    EXPECT_EQ(s.OpenLan("127.0.0.1", ntohs(converter.addr.sin_port), 100), 0);
    EXPECT_EQ(s.Call(1, CmdReadStatus, SubNone).status, Q417_E_TIMEOUT);
    for (int i = 0; i < 1000 && !lateSent; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(lateSent); // the converter's thread must still be joined
    // Loopback hands a datagram over within the send, or soon after it in
    // the kernel's own thread, which a loaded machine may keep waiting; no
    // sign from the driver's socket tells when it has arrived.
    std::this_thread::sleep_for(250ms);
    const Answer a = s.Call(1, CmdReadStatus, SubNone);
    conv.join();
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.d, (std::array<uint8_t, 4>{0x11, 0x11, 0x11, 0x11}));
    // It still told that module 1 is there, only slow.
    const std::vector<TLateReply> late = s.Late(0);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].Address, 1);
}

// A datagram is one frame: the awaited reply with a byte after it is not
// that reply, and nothing else came.
TEST(LanExchange, AReplyWithTrailingBytesIsNoReply)
{
    FakeConverter conv(
        [](const Socket &converter, const wire::Request &rq, const sockaddr_in &driver) {
            converter.SendTo(driver, ReplyTo(rq, 0x11), 1);
        });
    Session s(ifLan);
    ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(conv.converter.addr.sin_port), 200), 0);
    const Answer a = s.Call(1, CmdReadStatus, SubNone);
    EXPECT_EQ(a.status, Q417_E_FRAME);
    EXPECT_EQ(Word(a.d), 0u);
}

// Every connection numbers its requests from a start of its own, so that a
// reply left over from an earlier session is unlikely to fit the new one.
// Eight connections all starting alike would happen by chance once in 2^56.
TEST(LanExchange, EachConnectionStartsItsSequenceAnew)
{
    Socket converter;
    std::set<int> first;
    for (int i = 0; i < 8; ++i) {
        Session s(ifLan);
        ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(converter.addr.sin_port), 20), 0);
        EXPECT_EQ(s.Call(1, CmdReadStatus, SubNone).status, Q417_E_TIMEOUT);
        const std::optional<wire::Request> rq = converter.Received(1000);
        ASSERT_TRUE(rq) << "connection " << i;
        first.insert(rq->seq);
    }
    EXPECT_GT(first.size(), 1u);
}

// The converter is told the rate and must say yes to this very request: a
// stranger's or an earlier request's acceptance is not taken, and its
// refusal is a status of its own, not a time-out.
TEST(LanConfig, OnlyTheConvertersAnswerToThisRequestCounts)
{
    Socket stranger;
    std::vector<uint32_t> asked;
    {
        FakeConverter conv(
            [](const Socket &converter, const wire::Request &rq, const sockaddr_in &driver) {
                converter.SendTo(driver, ReplyTo(rq, 0x11));
            },
            [&](const Socket &converter, const wire::ConverterConfig &c,
                const sockaddr_in &driver) {
                asked.push_back(c.rate);
                const uint8_t accepted = uint8_t(wire::ConfigResult::Accepted);
                if (c.rate == 19200) {
                    Acknowledge(converter, {c.seq, accepted, c.rate}, driver);
                    return;
                }
                Acknowledge(stranger, {c.seq, accepted, c.rate}, driver);
                Acknowledge(converter, {uint8_t(c.seq - 1), accepted, c.rate}, driver);
                std::this_thread::sleep_for(20ms);
                Acknowledge(converter, {c.seq, uint8_t(wire::ConfigResult::InvalidRate), 19200},
                            driver);
            });
        Session s(ifLan);
        ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(conv.converter.addr.sin_port), 1000), 0);
        EXPECT_EQ(s.Configure(19200, 100), 0);
        EXPECT_EQ(s.Configure(57600, 100), Q417_E_CONV_RATE);
        EXPECT_EQ(s.Text(Q417_E_CONV_RATE), "převodník odmítl rychlost sběrnice");
        EXPECT_EQ(s.Call(1, CmdReadStatus, SubNone).status, 0) << "the connection stays usable";
    }
    EXPECT_EQ(asked, (std::vector<uint32_t>{19200, 57600}));
}

// A converter that never acknowledges (an old one, or none at all behind a
// silent port) has not been configured: a time-out, never success.
TEST(LanConfig, ASilentConverterIsATimeOut)
{
    Socket converter;
    Session s(ifLan);
    ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(converter.addr.sin_port), 200), 0);
    const timing::Runs runs = timing::FastestOf(timing::LongTries, 350ms, [&] {
        int32_t r = 0;
        const timing::Us took = timing::Took([&] { r = s.Configure(9600, 200); });
        EXPECT_EQ(r, Q417_E_TIMEOUT);
        EXPECT_GE(took, 195ms);
        return took;
    });
    EXPECT_LE(runs.fastest, 350ms) << runs;
    EXPECT_EQ(s.Configure(0, 200), Q417_E_RATE) << "no rate to tell";
}

// A short time-out ends on time: a module finder waits it out at every
// empty address. (The socket's own receive time-out, which runs on the
// scheduler's tick, made 5 ms last 12.)
TEST(LanExchange, AShortTimeOutEndsOnTime)
{
    Socket converter; // never answers
    for (int32_t ms : {5, 30}) {
        Session s(ifLan);
        ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(converter.addr.sin_port), ms), 0);
        // The tick makes every call late, a busy machine only some.
        const auto bound = std::chrono::milliseconds(ms) + 4ms;
        const timing::Runs runs = timing::FastestOf(timing::ShortTries, bound, [&] {
            Answer a;
            const timing::Us took = timing::Took([&] { a = s.Call(1, CmdReadStatus, SubNone); });
            EXPECT_EQ(a.status, Q417_E_TIMEOUT);
            EXPECT_GE(took, std::chrono::milliseconds(ms)) << ms << " ms";
            return took;
        });
        EXPECT_LE(runs.fastest, bound) << ms << " ms, " << runs;
    }
}

// 0 ms would give every exchange up before any converter could answer.
// The silence guard in the same block is checked alike.
TEST(LanInit, TimeOutIsOneMillisecondToOneMinute)
{
    for (int32_t ms : {0, -1, 60001}) {
        Session s(ifLan);
        EXPECT_EQ(s.OpenLan("127.0.0.1", 5000, ms), Q417_E_PARAM) << ms;
        EXPECT_EQ(s.Handle(), 0);
    }
    for (int32_t us : {-1, Q417_GUARD_MAX_US + 1}) {
        Session s(ifLan);
        s.SetGuard(us);
        EXPECT_EQ(s.OpenLan("127.0.0.1", 5000, 100), Q417_E_PARAM) << us;
    }
    for (int32_t ms : {1, 60000}) {
        Session s(ifLan);
        EXPECT_EQ(s.OpenLan("127.0.0.1", 5000, ms), 0) << ms;
    }
}

void SendSilence(const Socket &converter, const sockaddr_in &to, wire::SilenceFrame f)
{
    ::sendto(converter.fd, reinterpret_cast<const char *>(f.data()), int(f.size()), 0,
             reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

// The converter's word that nobody answered ends the exchange at once with
// a time-out, but only whole and for this very request: one for another
// request, or damaged, proves nothing, and no frame error comes of it.
TEST(LanGuard, OnlyAWholeSilenceDatagramForThisRequestEndsTheWait)
{
    FakeConverter conv(
        [](const Socket &converter, const wire::Request &rq, const sockaddr_in &driver) {
            SendSilence(converter, driver, wire::Encode(wire::Silence{uint8_t(rq.seq - 1), rq.address}));
            SendSilence(converter, driver, wire::Encode(wire::Silence{rq.seq, uint8_t(rq.address + 1)}));
            for (std::size_t at : {0, 1, 2, 4}) {
                wire::SilenceFrame damaged = wire::Encode(wire::Silence{rq.seq, rq.address});
                damaged[at] ^= 0x04;
                SendSilence(converter, driver, damaged);
            }
            std::this_thread::sleep_for(60ms);
            SendSilence(converter, driver, wire::Encode(wire::Silence{rq.seq, rq.address}));
        },
        AcceptRate, AcceptGuarded);
    Session s(ifLan);
    s.SetGuard(700);
    ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(conv.converter.addr.sin_port), 1000), 0);
    ASSERT_EQ(s.Configure(9600, 1000), 0);
    Answer a;
    const auto took = Elapsed([&] { a = s.Call(3, CmdReadIdentity, 0); });
    EXPECT_EQ(a.status, Q417_E_TIMEOUT);
    EXPECT_GE(took, 55ms) << "taken before the whole one came";
    EXPECT_LE(took, 500ms) << "the whole one ends the wait";
}

// A converter that does not know the guard leaves its configuration form
// unanswered: the driver falls back to the plain form once, keeps to it,
// and the connection works with whole time-outs.
TEST(LanGuard, AConverterWithoutTheGuardGetsThePlainConfiguration)
{
    std::vector<uint32_t> asked;
    std::atomic<int> guardedAsked{0}; // and left unanswered
    FakeConverter conv(
        [](const Socket &converter, const wire::Request &rq, const sockaddr_in &driver) {
            converter.SendTo(driver, ReplyTo(rq, 0x11));
        },
        [&](const Socket &converter, const wire::ConverterConfig &c, const sockaddr_in &driver) {
            asked.push_back(c.rate);
            AcceptRate(converter, c, driver);
        },
        [&](const Socket &, const wire::GuardedConfig &, const sockaddr_in &) { ++guardedAsked; });
    Session s(ifLan);
    s.SetGuard(500);
    ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(conv.converter.addr.sin_port), 100), 0);
    EXPECT_EQ(s.Configure(9600, 100), 0);
    EXPECT_EQ(s.Configure(19200, 100), 0);
    // The converter takes datagrams in order: once the reply has come, it
    // has seen every configuration before the request.
    EXPECT_EQ(s.Call(1, CmdReadStatus, SubNone).status, 0);
    EXPECT_EQ(guardedAsked, 1) << "no second try of the guard";
    EXPECT_EQ(asked, (std::vector<uint32_t>{9600, 19200}));
}

// While the converter reports silence, a damaged reply is judged by its
// seq and address: one of an earlier, unanswered request is that module's
// late reply and the exchange goes on to its own answer; one that names
// nothing yields to the converter's word on this request. Neither becomes
// this exchange's CRC error, which a scan would take for a collision at the
// address it probes now.
TEST(LanGuard, ADamagedLateReplyIsNotTheCurrentExchangesError)
{
    Socket converter;
    std::thread conv([&] {
        sockaddr_in driver{};
        wire::Request first, rq;
        auto next = [&](wire::Request &into) {
            for (;;) {
                uint8_t buf[64];
                AddrLen len = sizeof driver;
                if (!WaitReadable(converter.fd, 3000))
                    return false;
                const auto n = ::recvfrom(converter.fd, reinterpret_cast<char *>(buf), sizeof buf,
                                          0, reinterpret_cast<sockaddr *>(&driver), &len);
                if (n <= 0)
                    return false;
                const std::span<const uint8_t> got(buf, std::size_t(n));
                if (wire::GuardedConfig g; wire::Decode(got, g) == wire::Decoded::Ok) {
                    AcceptGuarded(converter, g, driver);
                    continue;
                }
                if (wire::Decode(got, into) == wire::Decoded::Ok)
                    return true;
            }
        };
        auto sendRaw = [&](std::span<const uint8_t> bytes) {
            ::sendto(converter.fd, reinterpret_cast<const char *>(bytes.data()), int(bytes.size()),
                     0, reinterpret_cast<const sockaddr *>(&driver), sizeof driver);
        };
        // The first request: silence now, its reply later and damaged.
        if (!next(first))
            return;
        SendSilence(converter, driver, wire::Encode(wire::Silence{first.seq, first.address}));
        // The second: first the damaged late reply of the first, then its own.
        if (!next(rq))
            return;
        wire::ReplyFrame late = wire::Encode(ReplyTo(first, 0xDD));
        late[6] ^= 0x01;
        sendRaw(late);
        std::this_thread::sleep_for(20ms);
        converter.SendTo(driver, ReplyTo(rq, 0x11));
        // The third: a damaged datagram whose seq and address name nothing,
        // then the converter's silence for it.
        if (!next(rq))
            return;
        wire::ReplyFrame garbled = wire::Encode(ReplyTo(rq, 0xEE));
        garbled[1] ^= 0x80;
        garbled[2] ^= 0x40;
        sendRaw(garbled);
        std::this_thread::sleep_for(20ms);
        SendSilence(converter, driver, wire::Encode(wire::Silence{rq.seq, rq.address}));
        // The fourth: the same, but no silence follows: the damage was
        // this request's after all.
        if (!next(rq))
            return;
        garbled = wire::Encode(ReplyTo(rq, 0xEE));
        garbled[1] ^= 0x80;
        garbled[2] ^= 0x40;
        sendRaw(garbled);
    });
    Session s(ifLan);
    s.SetGuard(300);
    ASSERT_EQ(s.OpenLan("127.0.0.1", ntohs(converter.addr.sin_port), 500), 0);
    ASSERT_EQ(s.Configure(9600, 500), 0);
    EXPECT_EQ(s.Call(4, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    const Answer a = s.Call(6, CmdReadIdentity, 0);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.d, (std::array<uint8_t, 4>{0x11, 0x11, 0x11, 0x11}));
    const std::vector<TLateReply> late = s.Late(0);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].Address, 4);
    EXPECT_EQ(s.Call(7, CmdReadIdentity, 0).status, Q417_E_TIMEOUT);
    EXPECT_EQ(s.Call(8, CmdReadIdentity, 0).status, Q417_E_CRC);
    conv.join();
}

} // namespace
