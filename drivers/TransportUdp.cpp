// The LAN converter: one request frame per UDP datagram to the converter,
// one reply frame back; and the converter's bus rate, set by a configuration
// datagram it acknowledges.
#include "Transport.h"

#include "BusTiming.h"
#include "Socket.h"
#include "q417drv.h"

#include <algorithm>
#include <chrono>

namespace drv {

namespace {

using Clock = std::chrono::steady_clock;

bool CrcHolds(std::span<const uint8_t> frame)
{
    const uint16_t crc = wire::Crc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

// What one datagram from the converter means to the transaction waiting.
enum class Verdict {
    Taken,   /**< the awaited answer */
    Silent,  /**< the converter says nobody answered this request */
    Skip,    /**< a valid datagram for another transaction: keep waiting */
    Junk,    /**< no datagram we know */
    Damaged, /**< the awaited kind with a bad CRC: ends the wait */
    Suspect  /**< damaged, perhaps another's: the time-out or silence decides */
};

// Takes the acknowledgement of configuration `seq` into `ack`.
auto AckJudge(uint8_t seq, wire::ConverterAck &ack)
{
    return [seq, &ack](std::span<const uint8_t> got) {
        switch (wire::Decode(got, ack)) {
        case wire::Decoded::Ok:
            // A late acknowledgement of an earlier request says nothing
            // of this one.
            return ack.seq == seq ? Verdict::Taken : Verdict::Skip;
        case wire::Decoded::BadCrc:
        case wire::Decoded::BadStart:
            if (got.size() == wire::ConfigAckSize && !CrcHolds(got))
                return Verdict::Damaged;
            break;
        case wire::Decoded::BadSize:
            break;
        }
        wire::Reply late;
        wire::Silence silence;
        return wire::Decode(got, late) == wire::Decoded::Ok ||
                       wire::Decode(got, silence) == wire::Decoded::Ok
                   ? Verdict::Skip
                   : Verdict::Junk;
    };
}

// A socket's receive time-out runs on the scheduler's tick (4 ms at 250 Hz)
// and ends up to two ticks late: a 5 ms time-out lasted 12 ms. So the
// blocking receive waits this much less than the exchange's time-out, and a
// precise wait takes the rest; a time-out this short is waited for by the
// precise wait alone (0: no blocking receive).
constexpr int32_t TickSlackMs = 10;
int32_t CoarseWaitMs(int32_t timeoutMs)
{
    return timeoutMs > 2 * TickSlackMs ? timeoutMs - TickSlackMs : 0;
}

class UdpTransport final : public Transport {
public:
    UdpTransport(net::Handle socket, const net::Peer &peer, int32_t timeoutMs)
        : socket_(socket), peer_(peer), timeoutMs_(timeoutMs), configSeq_(FreshSeq())
    {
    }
    ~UdpTransport() override { net::Close(socket_); }
    UdpTransport(const UdpTransport &) = delete;
    UdpTransport &operator=(const UdpTransport &) = delete;

    int32_t TimeoutMs() const override { return timeoutMs_; }

    // The converter decides which rates it runs at; a rate that cannot even
    // be written into the datagram is refused here. The reply time-out stays
    // Init's: it covers the network to the converter as well as the bus.
    int32_t Configure(int32_t rate, int32_t timeoutMs) override
    {
        (void)timeoutMs;
        if (rate <= 0)
            return Q417_E_RATE;
        wire::ConverterAck ack;
        if (guard_ > guard_.zero() && !guardUnknown_) {
            const wire::GuardedConfig guarded{++configSeq_, uint32_t(rate),
                                              uint16_t(guard_.count())};
            const int32_t r = Transact(wire::Encode(guarded), AckJudge(guarded.seq, ack));
            if (r != Q417_E_TIMEOUT)
                return r != Q417_OK ? r : Judged(ack, guarded.rate);
        }
        // A converter that does not know the guard leaves its form
        // unanswered. If it takes the plain one, it keeps getting that, and
        // exchanges wait their whole time-out as with any converter.
        const wire::ConverterConfig config{++configSeq_, uint32_t(rate)};
        const int32_t r = Transact(wire::Encode(config), AckJudge(config.seq, ack));
        if (r != Q417_OK)
            return r;
        if (guard_ > guard_.zero())
            guardUnknown_ = true;
        return Judged(ack, config.rate);
    }

    int32_t Listen(Clock::time_point until) override
    {
        for (;;) {
            // What one exchange may have left behind, even when asked not to wait.
            Drain(until, 16);
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            if (!late_.Empty() || left.count() <= 0)
                return Q417_OK;
            if (net::WaitReadable(socket_, int(left.count())) < 0)
                return Q417_E_IO;
        }
    }

    int32_t Exchange(const wire::Request &request, wire::Reply &reply) override
    {
        late_.Sent(request, rate_, Clock::now());
        const int32_t result = Transact(wire::Encode(request), [&](std::span<const uint8_t> got) {
            if (got.size() == wire::SilenceSize)
                return SilenceVerdict(got, request);
            wire::Reply r;
            switch (wire::Decode(got, r)) {
            case wire::Decoded::BadCrc:
                // A datagram is a whole frame: a damaged one is a reply,
                // damaged, not a boundary we missed.
                return DamagedVerdict(got, request);
            case wire::Decoded::BadStart:
                // The CRC covers the start byte too: a reply whose start
                // byte was hit is as damaged as one hit anywhere else.
                return got.size() == wire::ReplySize && !CrcHolds(got)
                           ? DamagedVerdict(got, request)
                           : Verdict::Junk;
            case wire::Decoded::BadSize:
                return Verdict::Junk;
            case wire::Decoded::Ok:
                break;
            }
            // A late reply to an earlier request or a duplicate: keep waiting.
            if (r.seq != request.seq || r.address != request.address) {
                late_.Heard(r, Clock::now());
                return Verdict::Skip;
            }
            reply = r;
            return Verdict::Taken;
        });
        // Only a request nobody answered can have a late reply; one that
        // got a damaged reply has had its answer.
        if (result != Q417_E_TIMEOUT)
            late_.Answered(request);
        return result;
    }

private:
    int32_t Judged(const wire::ConverterAck &ack, uint32_t rate)
    {
        if (ack.result != uint8_t(wire::ConfigResult::Accepted) || ack.rate != rate)
            return Q417_E_CONV_RATE;
        rate_ = int32_t(rate);
        return Q417_OK;
    }

    // Whose a damaged reply is, by its seq and address bytes
    // (LateReplies::Damaged): this request's ends the exchange; an earlier
    // one's is late, the module there is known, and the wait goes on. One
    // whose bytes name neither, or both, may be either: while the converter
    // reports silence, its word for this request decides, so a slow
    // module's damaged reply cannot pass for a collision at the address
    // probed now.
    Verdict DamagedVerdict(std::span<const uint8_t> got, const wire::Request &request)
    {
        const LateReplies::Whose whose = late_.Damaged(got[1], got[2], &request, Clock::now());
        if (whose.current != whose.late)
            return whose.current ? Verdict::Damaged : Verdict::Skip;
        return guard_ > guard_.zero() && !guardUnknown_ ? Verdict::Suspect : Verdict::Damaged;
    }

    // A silence datagram ends the exchange only when it is whole and names
    // this request. A damaged one proves nothing either way: the wait goes
    // on, and no frame error comes of it, which a caller could take for a
    // collision of replies.
    static Verdict SilenceVerdict(std::span<const uint8_t> got, const wire::Request &request)
    {
        wire::Silence s;
        if (wire::Decode(got, s) != wire::Decoded::Ok)
            return Verdict::Skip;
        return s.seq == request.seq && s.address == request.address ? Verdict::Silent
                                                                    : Verdict::Skip;
    }

    // Sends one datagram and waits, at most the time-out, for the datagram
    // from the converter that `judge` takes.
    template <typename Judge> int32_t Transact(std::span<const uint8_t> out, Judge judge)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
        // Only a transaction that gave up can have an answer still on its
        // way. After a taken one, what may follow is a copy of it, which its
        // seq marks as stale; so a settled socket needs no draining call.
        // A converter that floods us must not hold the exchange past its
        // time-out: the drain ends with it.
        if (unsettled_)
            Drain(deadline);
        unsettled_ = true;

        long sent = net::Send(socket_, out.data(), out.size());
        // A refusal left over from an earlier datagram (ICMP port
        // unreachable) surfaces on the next send; it says nothing about
        // this one.
        if (sent < 0 && net::LastFailure() == net::Failure::Refused)
            sent = net::Send(socket_, out.data(), out.size());
        if (sent != long(out.size()))
            return sent < 0 && net::LastFailure() == net::Failure::Refused ? Q417_E_TIMEOUT
                                                                           : Q417_E_IO;

        bool sawJunk = false, sawDamage = false;
        // The first wait is the socket's own receive time-out, in the
        // receive itself: the usual exchange is one send and one receive.
        // That time-out is set short of the exchange's (CoarseWaitMs), and
        // what is left of the time-out, also after a datagram that was not
        // the answer or a signal, is waited for in steps that end on time.
        for (bool first = CoarseWaitMs(timeoutMs_) > 0;; first = false) {
            uint8_t buf[64];
            net::Peer from;
            long n = 0;
            if (first) {
                n = net::ReceiveWaiting(socket_, buf, sizeof buf, from);
            } else {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                if (left.count() <= 0)
                    break;
                const int ready = net::WaitReadable(socket_, int(left.count()));
                if (ready < 0)
                    return Q417_E_IO;
                if (ready == 0)
                    continue;
                n = net::ReceiveFrom(socket_, buf, sizeof buf, from);
            }
            if (n < 0) {
                // An unreachable converter is reported as no reply.
                if (net::LastFailure() != net::Failure::Other)
                    continue;
                return Q417_E_IO;
            }
            if (from != peer_)
                continue;
            const std::size_t got = std::min<std::size_t>(std::size_t(n), sizeof buf);
            switch (judge(std::span<const uint8_t>(buf, got))) {
            case Verdict::Taken:
                unsettled_ = false;
                return Q417_OK;
            case Verdict::Silent:
                unsettled_ = false;
                return Q417_E_TIMEOUT;
            case Verdict::Damaged:
                return Q417_E_CRC;
            case Verdict::Junk:
                sawJunk = true;
                break;
            case Verdict::Suspect:
                sawDamage = true;
                break;
            case Verdict::Skip:
                break;
            }
        }
        return sawDamage ? Q417_E_CRC : sawJunk ? Q417_E_FRAME : Q417_E_TIMEOUT;
    }

    // Replies that arrived after their exchange gave up would otherwise sit
    // in the socket's queue ahead of the next reply; each is heard as late
    // on its way out. Ends when the queue is empty, on an error the next
    // send will meet again, or at `until` once `atLeast` datagrams are read.
    void Drain(Clock::time_point until, unsigned atLeast = 0)
    {
        uint8_t buf[64];
        net::Peer from;
        for (unsigned read = 0; read < atLeast || Clock::now() < until; ++read) {
            const long n = net::ReceiveFrom(socket_, buf, sizeof buf, from);
            if (n < 0) {
                if (net::LastFailure() != net::Failure::Refused &&
                    net::LastFailure() != net::Failure::Interrupted)
                    return;
            } else if (from == peer_) {
                Absorb(std::span<const uint8_t>(buf, std::min<std::size_t>(std::size_t(n),
                                                                           sizeof buf)));
            }
        }
    }

    // A datagram no transaction waits for: a reply there may be late, also
    // a damaged one, known by its seq and address bytes.
    void Absorb(std::span<const uint8_t> got)
    {
        wire::Reply r;
        if (wire::Decode(got, r) == wire::Decoded::Ok)
            late_.Heard(r, Clock::now());
        else if (got.size() == wire::ReplySize)
            late_.Damaged(got[1], got[2], nullptr, Clock::now());
    }

    net::Handle socket_;
    net::Peer peer_;
    int32_t timeoutMs_;
    uint8_t configSeq_; /**< of the last configuration request */
    bool unsettled_ = false; /**< the last transaction ended without its answer */
    bool guardUnknown_ = false; /**< the converter left a guarded configuration unanswered */
    int32_t rate_ = bus::DefaultRate; /**< Bd, the converter's since the last accepted SetConfig */
};

} // namespace

std::unique_ptr<Transport> OpenUdp(const char *ip, int32_t port, int32_t timeoutMs,
                                   int32_t &error)
{
    if (ip == nullptr) {
        error = Q417_E_IPADDR;
        return nullptr;
    }
    net::Peer peer;
    if (!net::ParseIPv4(ip, peer)) {
        error = Q417_E_IPADDR;
        return nullptr;
    }
    if (port < 1 || port > 65535 || !TimeoutInRange(timeoutMs)) {
        error = Q417_E_PARAM;
        return nullptr;
    }
    peer.port = net::PortToNetwork(uint16_t(port));

    const net::Handle socket = net::OpenConnectedUdp(peer, CoarseWaitMs(timeoutMs));
    if (socket == net::NoSocket) {
        error = Q417_E_OPEN;
        return nullptr;
    }
    return std::make_unique<UdpTransport>(socket, peer, timeoutMs);
}

} // namespace drv
