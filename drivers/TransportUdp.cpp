// The LAN converter: one request frame per UDP datagram to the converter,
// one reply frame back.
#include "Transport.h"

#include "Socket.h"
#include "q417drv.h"

#include <algorithm>
#include <chrono>

namespace drv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t MaxTimeoutMs = 60000;

bool CrcHolds(std::span<const uint8_t> frame)
{
    const uint16_t crc = wire::Crc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

class UdpTransport final : public Transport {
public:
    UdpTransport(net::Handle socket, const net::Peer &peer, int32_t timeoutMs)
        : socket_(socket), peer_(peer), timeoutMs_(timeoutMs)
    {
    }
    ~UdpTransport() override { net::Close(socket_); }
    UdpTransport(const UdpTransport &) = delete;
    UdpTransport &operator=(const UdpTransport &) = delete;

    int32_t TimeoutMs() const override { return timeoutMs_; }

    int32_t Exchange(const wire::Request &request, wire::Reply &reply) override
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
        Drain();

        const wire::RequestFrame frame = wire::Encode(request);
        long sent = net::Send(socket_, frame.data(), frame.size());
        // A refusal left over from an earlier datagram (ICMP port
        // unreachable) surfaces on the next send; it says nothing about
        // this one.
        if (sent < 0 && net::LastFailure() == net::Failure::Refused)
            sent = net::Send(socket_, frame.data(), frame.size());
        if (sent != long(frame.size()))
            return sent < 0 && net::LastFailure() == net::Failure::Refused ? Q417_E_TIMEOUT
                                                                           : Q417_E_IO;

        bool sawJunk = false;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            const int ready = net::WaitReadable(socket_, int(left.count()));
            if (ready < 0)
                return Q417_E_IO;
            if (ready == 0)
                continue;

            uint8_t buf[64];
            net::Peer from;
            const long n = net::ReceiveFrom(socket_, buf, sizeof buf, from);
            if (n < 0) {
                // An unreachable converter is reported as no reply.
                if (net::LastFailure() != net::Failure::Other)
                    continue;
                return Q417_E_IO;
            }
            if (from != peer_)
                continue;
            const std::size_t got = std::min<std::size_t>(std::size_t(n), sizeof buf);
            wire::Reply r;
            switch (wire::Decode(std::span<const uint8_t>(buf, got), r)) {
            case wire::Decoded::BadCrc:
                // A datagram is a whole frame: a damaged one is this
                // exchange's reply, damaged, not a boundary we missed.
                return Q417_E_CRC;
            case wire::Decoded::BadStart:
                // The CRC covers the start byte too: a reply whose start
                // byte was hit is as damaged as one hit anywhere else.
                if (got == wire::ReplySize && !CrcHolds(std::span<const uint8_t>(buf, got)))
                    return Q417_E_CRC;
                sawJunk = true;
                continue;
            case wire::Decoded::BadSize:
                sawJunk = true;
                continue;
            case wire::Decoded::Ok:
                break;
            }
            // A late reply to an earlier request or a duplicate: keep waiting.
            if (r.seq != request.seq || r.address != request.address)
                continue;
            reply = r;
            return Q417_OK;
        }
        return sawJunk ? Q417_E_FRAME : Q417_E_TIMEOUT;
    }

private:
    // Replies that arrived after their exchange gave up would otherwise sit
    // in the socket's queue ahead of the next reply.
    void Drain()
    {
        uint8_t buf[64];
        net::Peer from;
        for (;;) {
            const long n = net::ReceiveFrom(socket_, buf, sizeof buf, from);
            if (n < 0 && net::LastFailure() != net::Failure::Refused &&
                net::LastFailure() != net::Failure::Interrupted)
                return;
        }
    }

    net::Handle socket_;
    net::Peer peer_;
    int32_t timeoutMs_;
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
    if (port < 1 || port > 65535 || timeoutMs < 1 || timeoutMs > MaxTimeoutMs) {
        error = Q417_E_PARAM;
        return nullptr;
    }
    peer.port = net::PortToNetwork(uint16_t(port));

    const net::Handle socket = net::OpenConnectedUdp(peer);
    if (socket == net::NoSocket) {
        error = Q417_E_OPEN;
        return nullptr;
    }
    return std::make_unique<UdpTransport>(socket, peer, timeoutMs);
}

} // namespace drv
