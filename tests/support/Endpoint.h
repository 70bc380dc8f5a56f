// Raw frames to the simulator: UDP on 127.0.0.1 or its pseudo-terminal.
#pragma once

#include "Wire.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace simtest {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// How long to wait for a datagram or bytes that should come: it only
// bounds a fault's wait, so a machine that keeps the simulator from the
// processor for a while cannot make an answer count as missing.
constexpr Ms ReplyWait = 5000ms;

// A descriptor for UDP to the simulator or for its pseudo-terminal's slave.
class Endpoint {
public:
    static Endpoint Udp(uint16_t port);
    static Endpoint Pty(const std::string &path);
    Endpoint(Endpoint &&other) noexcept : fd_(other.fd_), port_(other.port_) { other.fd_ = -1; }
    ~Endpoint();

    bool IsOpen() const { return fd_ >= 0; }
    // The bus rate in Bd, as the drivers set it: on the pty with cfsetspeed
    // on the slave (a pty opens at 9600 Bd, the rate modules leave the
    // factory with), over UDP with a converter-configuration datagram, true
    // once the converter has accepted it.
    bool SetRate(int32_t bd) const;
    void Send(std::span<const uint8_t> bytes) const;
    void Send(const wire::Request &r) const { Send(wire::Encode(r)); }
    // UDP: one datagram; pty: up to `max` bytes. Empty when nothing came.
    std::vector<uint8_t> Receive(Ms timeout, std::size_t max = wire::ReplySize) const;
    // Sends, then decodes what comes back.
    std::optional<wire::Reply> Ask(const wire::Request &r, Ms timeout = ReplyWait) const;

private:
    Endpoint(int fd, uint16_t port) : fd_(fd), port_(port) {}
    int fd_;
    uint16_t port_; // 0 for the pty
};

wire::Request MakeRequest(uint8_t seq, uint8_t address, uint8_t cmd, uint8_t sub,
                          std::array<uint8_t, 4> d = {});

} // namespace simtest
