#include "Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

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

// Each socket holds its own Winsock reference, so the library needs no
// start-up or clean-up entry of its own. The socket stays non-blocking
// (ReceiveFrom must never wait); ReceiveWaiting reads the receive time-out
// back and waits for it itself.
Handle OpenConnectedUdp(const Peer &peer, int timeoutMs)
{
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return NoSocket;
    SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                            WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        ::WSACleanup();
        return NoSocket;
    }
    u_long nonBlocking = 1;
    const DWORD wait = DWORD(timeoutMs);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = peer.address;
    to.sin_port = peer.port;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&wait),
                     sizeof wait) != 0 ||
        ::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::closesocket(s);
        ::WSACleanup();
        return NoSocket;
    }
    return Handle(s);
}

void Close(Handle socket)
{
    if (socket == NoSocket)
        return;
    ::closesocket(SOCKET(socket));
    ::WSACleanup();
}

Failure LastFailure()
{
    switch (::WSAGetLastError()) {
    case WSAEWOULDBLOCK:
        return Failure::WouldBlock;
    case WSAEINTR:
        return Failure::Interrupted;
    // An ICMP port unreachable for an earlier datagram: Winsock reports it
    // on a UDP socket as a reset connection.
    case WSAECONNRESET:
    case WSAECONNREFUSED:
        return Failure::Refused;
    default:
        return Failure::Other;
    }
}

long Send(Handle socket, const uint8_t *bytes, std::size_t size)
{
    return long(::send(SOCKET(socket), reinterpret_cast<const char *>(bytes), int(size), 0));
}

int WaitReadable(Handle socket, int timeoutMs)
{
    WSAPOLLFD p{SOCKET(socket), POLLRDNORM, 0};
    const int ready = ::WSAPoll(&p, 1, timeoutMs);
    if (ready == SOCKET_ERROR)
        return -1;
    return ready > 0 ? 1 : 0;
}

long ReceiveFrom(Handle socket, uint8_t *buf, std::size_t size, Peer &from)
{
    sockaddr_in a{};
    int len = sizeof a;
    const int n = ::recvfrom(SOCKET(socket), reinterpret_cast<char *>(buf), int(size), 0,
                             reinterpret_cast<sockaddr *>(&a), &len);
    if (n == SOCKET_ERROR) {
        // Winsock cuts a longer datagram and says so; the driver only needs
        // to know it was longer than the buffer.
        if (::WSAGetLastError() != WSAEMSGSIZE)
            return -1;
        from = Peer{a.sin_addr.s_addr, a.sin_port};
        return long(size) + 1;
    }
    from = len >= int(sizeof a) && a.sin_family == AF_INET ? Peer{a.sin_addr.s_addr, a.sin_port}
                                                           : Peer{};
    return long(n);
}

long ReceiveWaiting(Handle socket, uint8_t *buf, std::size_t size, Peer &from)
{
    DWORD timeoutMs = 0;
    int len = sizeof timeoutMs;
    if (::getsockopt(SOCKET(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char *>(&timeoutMs),
                     &len) != 0)
        return -1;
    const int ready = WaitReadable(socket, int(timeoutMs));
    if (ready <= 0) {
        if (ready == 0)
            ::WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    return ReceiveFrom(socket, buf, size, from);
}

} // namespace drv::net
