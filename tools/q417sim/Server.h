// Serves a SimBus over UDP and a pseudo-terminal from one poll() loop, with
// the faults of the command line applied to the replies. With real timing a
// reply leaves when the bus would have carried it (BusTiming.h): a datagram
// after the whole exchange's time, the pseudo-terminal's bytes one by one at
// the line's rate.
#pragma once

#include "Options.h"
#include "SimModule.h"
#include "Wire.h"

#include <array>
#include <chrono>
#include <ctime>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace q417sim {

// Request frames received, by command: each one that decoded, before any
// fault and whether or not a module heard it, so that a master's every
// request shows (a scan must be seen to send no write).
struct RequestCounts {
    std::array<uint64_t, 256> byCommand{};
    uint64_t Total() const;
    uint64_t Writes() const; // of the commands IsWriteCommand names
};

// The commands that change a module: write outputs (1), clear status (101)
// and write register (103).
bool IsWriteCommand(uint8_t cmd);

// "requests total=N read=N write=N" and "cmdC=N" for each command received,
// in ascending order; read counts every command that is not a write.
std::string Format(const RequestCounts &counts);

class Server {
public:
    Server(SimBus &bus, const Options &options, uint32_t seed);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Each returns false with `error` set when the system refuses.
    bool OpenUdp(uint16_t port, std::string &error);
    bool OpenPty(std::string &error);
    bool MakeLink(const std::string &path, std::string &error);

    uint16_t UdpPort() const { return udpPort_; }
    const std::string &SlavePath() const { return slavePath_; }

    // Serves until a byte on `signalFd` names SIGINT or SIGTERM. SIGHUP
    // restarts the modules and calls `onRestart`.
    void Run(int signalFd, void (*onRestart)());

    const RequestCounts &Counts() const { return counts_; }

private:
    using Clock = std::chrono::steady_clock;

    struct Peer {
        bool pty = false;
        sockaddr_in addr{}; // when !pty
    };
    struct Pending {
        Clock::time_point due; /**< of the first byte, or of the datagram */
        Peer to;
        std::vector<uint8_t> frame; /**< a reply, or the converter's silence datagram */
        Clock::duration byteTime{}; /**< between bytes; zero: all at once */
        std::size_t sent = 0;       /**< bytes of frame already written */
    };

    void ReadUdp();
    // The silence guard a UDP peer asked for with its last configuration,
    // in us; 0 when it asked for none.
    uint16_t GuardOf(const sockaddr_in &peer) const;
    void SetGuard(const sockaddr_in &peer, uint16_t guardUs);
    void ReportSilence(const wire::Request &request, const Peer &to, Clock::time_point arrived,
                       int32_t bd, const std::string &who,
                       std::optional<Clock::time_point> replyBegins = std::nullopt);
    void ReadPty();
    void OnRequest(const wire::Request &request, const Peer &from);
    void Send(const Peer &to, std::span<const uint8_t> bytes);
    void SendDue();
    // When the next pending byte or datagram is due; max() when none waits.
    Clock::time_point NextDue() const;
    // Until the next pending byte or datagram, less the stretch SpinToDue
    // covers with real timing; null when nothing waits.
    std::optional<timespec> PollTimeout() const;
    // With real timing, busy-waits for a byte or datagram due within that
    // stretch, so that it leaves within microseconds of its time.
    void SpinToDue() const;
    // The rate the driver set on the pseudo-terminal; 0 when it is none of
    // bus::Rates.
    int32_t PtyRate() const;
    bool Chance(double percent);
    std::string Describe(const Peer &peer) const;

    SimBus &bus_;
    Faults faults_;
    bus::Timing timing_;
    bool verbose_;
    std::mt19937 rng_;

    int udpFd_ = -1;
    uint16_t udpPort_ = 0;
    int masterFd_ = -1;
    int slaveFd_ = -1; // held open so the master never sees the line hang up
    std::string slavePath_;
    std::string link_;
    wire::FrameScanner scanner_{wire::RequestStart, wire::RequestSize};
    std::vector<Pending> pending_;
    std::map<uint64_t, uint16_t> guards_; // by address and port; only non-zero guards
    RequestCounts counts_;
};

} // namespace q417sim
