#include "Endpoint.h"

#include "TermiosRates.h"

#include <algorithm>
#include <cerrno>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

bool Readable(int fd, Clock::time_point deadline)
{
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::ceil<Ms>(deadline - Clock::now()).count();
    return poll(&p, 1, left > 0 ? int(left) : 0) > 0;
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

Endpoint Endpoint::Udp(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in self = Loopback(0);
    bind(fd, reinterpret_cast<const sockaddr *>(&self), sizeof self);
    return Endpoint(fd, port);
}

Endpoint Endpoint::Pty(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    Endpoint e(fd, 0);
    e.SetRate(9600);
    return e;
}

bool Endpoint::SetRate(int32_t bd) const
{
    if (port_ != 0) {
        static uint8_t seq = 0;
        const wire::ConverterConfig config{++seq, uint32_t(bd)};
        Send(wire::Encode(config));
        wire::ConverterAck ack;
        return wire::Decode(Receive(ReplyWait, wire::ConfigAckSize), ack) == wire::Decoded::Ok &&
               ack.seq == config.seq && ack.result == uint8_t(wire::ConfigResult::Accepted);
    }
    const std::optional<speed_t> speed = bus::TermiosSpeed(bd);
    termios t{};
    if (!speed || tcgetattr(fd_, &t) != 0)
        return false;
    return cfsetspeed(&t, *speed) == 0 && tcsetattr(fd_, TCSANOW, &t) == 0;
}

Endpoint::~Endpoint()
{
    if (fd_ >= 0)
        close(fd_);
}

void Endpoint::Send(std::span<const uint8_t> bytes) const
{
    const sockaddr_in to = Loopback(port_);
    [[maybe_unused]] const ssize_t n =
        port_ ? sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                       sizeof to)
              : write(fd_, bytes.data(), bytes.size());
}

std::vector<uint8_t> Endpoint::Receive(Ms timeout, std::size_t max) const
{
    const auto deadline = Clock::now() + timeout;
    std::vector<uint8_t> got;
    uint8_t buf[2048];
    // A datagram is whole; the pty's byte stream is gathered up to `max`.
    while (got.size() < max && Readable(fd_, deadline)) {
        const ssize_t n = port_ ? recv(fd_, buf, sizeof buf, 0)
                                : read(fd_, buf, std::min(sizeof buf, max - got.size()));
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
        if (port_ || (n < 0 && errno != EAGAIN))
            break;
    }
    return got;
}

std::optional<wire::Reply> Endpoint::Ask(const wire::Request &r, Ms timeout) const
{
    Send(r);
    wire::Reply reply;
    if (wire::Decode(Receive(timeout), reply) != wire::Decoded::Ok)
        return std::nullopt;
    return reply;
}

wire::Request MakeRequest(uint8_t seq, uint8_t address, uint8_t cmd, uint8_t sub,
                          std::array<uint8_t, 4> d)
{
    wire::Request r;
    r.seq = seq;
    r.address = address;
    r.cmd = cmd;
    r.sub = sub;
    r.d = d;
    return r;
}

} // namespace simtest
