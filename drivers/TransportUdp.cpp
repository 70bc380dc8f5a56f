// The LAN converter: one request frame per UDP datagram to the converter,
// one reply frame back.
#include "Transport.h"

#include "q417drv.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
    UdpTransport(int fd, const sockaddr_in &peer, int32_t timeoutMs)
        : fd_(fd), peer_(peer), timeoutMs_(timeoutMs)
    {
    }
    ~UdpTransport() override { ::close(fd_); }
    UdpTransport(const UdpTransport &) = delete;
    UdpTransport &operator=(const UdpTransport &) = delete;

    int32_t TimeoutMs() const override { return timeoutMs_; }

    int32_t Exchange(const wire::Request &request, wire::Reply &reply) override
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
        Drain();

        const wire::RequestFrame frame = wire::Encode(request);
        ssize_t sent = ::send(fd_, frame.data(), frame.size(), 0);
        // A refusal left over from an earlier datagram (ICMP port
        // unreachable) surfaces on the next send; it says nothing about
        // this one.
        if (sent < 0 && errno == ECONNREFUSED)
            sent = ::send(fd_, frame.data(), frame.size(), 0);
        if (sent != ssize_t(frame.size()))
            return sent < 0 && errno == ECONNREFUSED ? Q417_E_TIMEOUT : Q417_E_IO;

        bool sawJunk = false;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, int(left.count()));
            if (ready < 0 && errno != EINTR)
                return Q417_E_IO;
            if (ready <= 0)
                continue;

            uint8_t buf[64];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC,
                                         reinterpret_cast<sockaddr *>(&from), &fromLen);
            if (n < 0) {
                // An unreachable converter is reported as no reply.
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
                    errno == ECONNREFUSED)
                    continue;
                return Q417_E_IO;
            }
            if (!FromPeer(from, fromLen))
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
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n < 0 && errno != ECONNREFUSED && errno != EINTR)
                return;
        }
    }

    bool FromPeer(const sockaddr_in &from, socklen_t len) const
    {
        return len >= sizeof from && from.sin_family == AF_INET &&
               from.sin_port == peer_.sin_port && from.sin_addr.s_addr == peer_.sin_addr.s_addr;
    }

    int fd_;
    sockaddr_in peer_;
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
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    if (::inet_pton(AF_INET, ip, &peer.sin_addr) != 1) {
        error = Q417_E_IPADDR;
        return nullptr;
    }
    if (port < 1 || port > 65535 || timeoutMs < 1 || timeoutMs > MaxTimeoutMs) {
        error = Q417_E_PARAM;
        return nullptr;
    }
    peer.sin_port = htons(uint16_t(port));

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = Q417_E_OPEN;
        return nullptr;
    }
    // Connected, the kernel already turns away datagrams from other peers;
    // the check in Exchange stays as the rule that matters.
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
        ::close(fd);
        error = Q417_E_OPEN;
        return nullptr;
    }
    return std::make_unique<UdpTransport>(fd, peer, timeoutMs);
}

} // namespace drv
