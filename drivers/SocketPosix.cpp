#include "Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace drv::net {

bool ParseIPv4(const char *text, Peer &peer)
{
    in_addr a{};
    if (text == nullptr || ::inet_pton(AF_INET, text, &a) != 1)
        return false;
    peer.address = a.s_addr;
    return true;
}

uint16_t PortToNetwork(uint16_t port)
{
    return htons(port);
}

Handle OpenConnectedUdp(const Peer &peer, int timeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return NoSocket;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = peer.address;
    to.sin_port = peer.port;
    // The receive time-out is set once here, so that no exchange pays a call
    // for it. Connected, the kernel already turns away datagrams from other
    // peers; the driver's own check stays as the rule that matters.
    const timeval wait{timeoutMs / 1000, suseconds_t(timeoutMs % 1000) * 1000};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return NoSocket;
    }
    return fd;
}

void Close(Handle socket)
{
    if (socket != NoSocket)
        ::close(int(socket));
}

Failure LastFailure()
{
    switch (errno) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return Failure::WouldBlock;
    case EINTR:
        return Failure::Interrupted;
    case ECONNREFUSED:
        return Failure::Refused;
    default:
        return Failure::Other;
    }
}

long Send(Handle socket, const uint8_t *bytes, std::size_t size)
{
    return long(::send(int(socket), bytes, size, 0));
}

int WaitReadable(Handle socket, int timeoutMs)
{
    pollfd p{int(socket), POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    return ready > 0 ? 1 : 0;
}

namespace {

long Receive(Handle socket, uint8_t *buf, std::size_t size, Peer &from, int flags)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const ssize_t n = ::recvfrom(int(socket), buf, size, flags | MSG_TRUNC,
                                 reinterpret_cast<sockaddr *>(&a), &len);
    if (n < 0)
        return -1;
    // Not IPv4: a peer that can never be the converter.
    from = len >= sizeof a && a.sin_family == AF_INET ? Peer{a.sin_addr.s_addr, a.sin_port}
                                                      : Peer{};
    return long(n);
}

} // namespace

long ReceiveFrom(Handle socket, uint8_t *buf, std::size_t size, Peer &from)
{
    return Receive(socket, buf, size, from, MSG_DONTWAIT);
}

// The socket blocks, bounded by its SO_RCVTIMEO.
long ReceiveWaiting(Handle socket, uint8_t *buf, std::size_t size, Peer &from)
{
    return Receive(socket, buf, size, from, 0);
}

} // namespace drv::net
