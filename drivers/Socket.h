// The few UDP socket calls the LAN driver makes, over BSD sockets
// (SocketPosix.cpp) or Winsock (SocketWin.cpp), so that TransportUdp.cpp
// holds one exchange logic for both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drv::net {

// A socket: an fd on POSIX, a SOCKET on Windows.
using Handle = std::intptr_t;
inline constexpr Handle NoSocket = -1;

// An IPv4 address and port, both in network byte order.
struct Peer {
    uint32_t address = 0;
    uint16_t port = 0;
    bool operator==(const Peer &) const = default;
};

// Dotted IPv4 text into peer.address; false for anything else.
bool ParseIPv4(const char *text, Peer &peer);
uint16_t PortToNetwork(uint16_t port);

// A UDP socket connected to `peer`, whose ReceiveWaiting waits at most
// about `timeoutMs` (the system's tick decides: it may end a few ms late);
// 0 leaves ReceiveWaiting unbounded, for a caller that never uses it.
// NoSocket on failure.
Handle OpenConnectedUdp(const Peer &peer, int timeoutMs);
void Close(Handle socket);

// Why the last call on this thread failed.
enum class Failure { Other, WouldBlock, Interrupted, Refused };
Failure LastFailure();

// Bytes sent, or -1.
long Send(Handle socket, const uint8_t *bytes, std::size_t size);

// 1 when a datagram waits, 0 when `timeoutMs` passed (or a signal came),
// -1 on an error.
int WaitReadable(Handle socket, int timeoutMs);

// One datagram into `buf`: its whole length (also when it was longer than
// `size` and cut), or -1. `from` is where it came from. Never waits: -1 with
// WouldBlock when none is queued.
long ReceiveFrom(Handle socket, uint8_t *buf, std::size_t size, Peer &from);

// As ReceiveFrom, but waits for a datagram at most the time-out the socket
// was opened with: one call where a wait and a receive would be two, which
// on loopback is a measurable share of an exchange. -1 with WouldBlock when
// none came in time, Interrupted when a signal came first.
long ReceiveWaiting(Handle socket, uint8_t *buf, std::size_t size, Peer &from);

} // namespace drv::net
