// Runs q417sim as a child process and talks raw frames to it.
#pragma once

#include "Wire.h"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

namespace simtest {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// The simulator started with `--udp-port 0` and the given options, its
// stdout read up to `ready`; stopped with SIGTERM when destroyed.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args);
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    bool Ready() const { return ready_; }
    uint16_t UdpPort() const { return udpPort_; }
    const std::string &Pty() const { return pty_; }
    const std::vector<std::string> &StartLines() const { return startLines_; }

    void Signal(int sig) const;
    bool WaitForLine(const std::string &line, Ms timeout);
    // Sends `sig` (harmless if it has already ended) and returns the exit
    // code, or -1 when it did not exit by itself in time.
    int Stop(int sig);
    // What it wrote to stderr so far; call after Stop.
    std::string Stderr() const;

private:
    std::optional<std::string> ReadLine(Ms timeout);

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string buffered_;
    bool ready_ = false;
    uint16_t udpPort_ = 0;
    std::string pty_;
    std::vector<std::string> startLines_;
};

// A descriptor for UDP to the simulator or for its pseudo-terminal's slave.
class Endpoint {
public:
    static Endpoint Udp(uint16_t port);
    static Endpoint Pty(const std::string &path);
    Endpoint(Endpoint &&other) noexcept : fd_(other.fd_), port_(other.port_) { other.fd_ = -1; }
    ~Endpoint();

    bool IsOpen() const { return fd_ >= 0; }
    void Send(std::span<const uint8_t> bytes) const;
    void Send(const wire::Request &r) const { Send(wire::Encode(r)); }
    // UDP: one datagram; pty: up to `max` bytes. Empty when nothing came.
    std::vector<uint8_t> Receive(Ms timeout, std::size_t max = wire::ReplySize) const;
    // Sends, then decodes what comes back.
    std::optional<wire::Reply> Ask(const wire::Request &r, Ms timeout = 1000ms) const;

private:
    Endpoint(int fd, uint16_t port) : fd_(fd), port_(port) {}
    int fd_;
    uint16_t port_; // 0 for the pty
};

wire::Request MakeRequest(uint8_t seq, uint8_t address, uint8_t cmd, uint8_t sub,
                          std::array<uint8_t, 4> d = {});

} // namespace simtest
