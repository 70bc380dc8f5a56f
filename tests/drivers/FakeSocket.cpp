#include "FakeSocket.h"

#include <algorithm>
#include <cstring>

namespace fakenet {

World &TheWorld()
{
    static World w;
    return w;
}

} // namespace fakenet

namespace drv::net {

namespace {
Failure last = Failure::Other;

long Deliver(uint8_t *buf, std::size_t size, Peer &from)
{
    const std::vector<uint8_t> d =
        fakenet::TheWorld().next ? fakenet::TheWorld().next() : std::vector<uint8_t>{};
    if (d.empty()) {
        last = Failure::WouldBlock;
        return -1;
    }
    std::memcpy(buf, d.data(), std::min(size, d.size()));
    from = fakenet::TheWorld().peer;
    return long(d.size());
}
} // namespace

bool ParseIPv4(const char *text, Peer &peer)
{
    peer.address = text != nullptr ? 0x0100007Fu : 0;
    return text != nullptr;
}

uint16_t PortToNetwork(uint16_t port)
{
    return uint16_t(port << 8 | port >> 8);
}

Handle OpenConnectedUdp(const Peer &peer, int)
{
    fakenet::TheWorld().peer = peer;
    return 3;
}

void Close(Handle) {}

Failure LastFailure()
{
    return last;
}

long Send(Handle, const uint8_t *bytes, std::size_t size)
{
    fakenet::TheWorld().sent.emplace_back(bytes, bytes + size);
    return long(size);
}

int WaitReadable(Handle, int)
{
    return 1;
}

long ReceiveFrom(Handle, uint8_t *buf, std::size_t size, Peer &from)
{
    return Deliver(buf, size, from);
}

long ReceiveWaiting(Handle, uint8_t *buf, std::size_t size, Peer &from)
{
    return Deliver(buf, size, from);
}

} // namespace drv::net
