// A socket layer for the LAN transport with no network behind it: what
// each receive gets is the test's to say, so that a converter can be made
// to send without end, faster than any receiver drains.
#pragma once

#include "Socket.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace fakenet {

struct World {
    drv::net::Peer peer;                                    // the converter given at Init
    std::function<std::vector<uint8_t>()> next;             // the datagram that waits; empty: none
    std::vector<std::vector<uint8_t>> sent;                 // what the transport sent
};

World &TheWorld();

} // namespace fakenet
