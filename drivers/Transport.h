// How a driver connection reaches its modules: one request/response
// exchange at a time over UDP, a serial line, or an in-process bus.
#pragma once

#include "LateReplies.h"
#include "Wire.h"
#include "q417drv.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace drv {

// The reply time-out a connection starts with, and the range SetConfig and
// Init accept, in ms.
inline constexpr int32_t DefaultTimeoutMs = 1000;
inline constexpr int32_t MaxTimeoutMs = 60000;
inline bool TimeoutInRange(int32_t ms)
{
    return ms >= 1 && ms <= MaxTimeoutMs;
}

// The silence guard (q417drv.h) a connection accepts, in us; 0 is off.
inline bool GuardInRange(int32_t us)
{
    return us >= 0 && us <= Q417_GUARD_MAX_US;
}

// A sequence number to start from: somewhere new for each connection, so
// that a reply or acknowledgement an earlier session left on the line or in
// the converter is unlikely to carry the number a request of this one
// waits for.
uint8_t FreshSeq();

class Transport {
public:
    virtual ~Transport() = default;

    // Applies SetConfig's bus speed (Bd) and reply time-out (ms); 0 or a
    // Q417_E_* code, the previous setting staying in force on failure. A
    // transport without a setting of its own keeps nothing.
    virtual int32_t Configure(int32_t rate, int32_t timeoutMs)
    {
        (void)rate;
        (void)timeoutMs;
        return 0;
    }

    // The reply time-out in force before any SetConfig, in ms.
    virtual int32_t TimeoutMs() const = 0;

    // From now on an exchange nobody answers ends once the reply's first
    // byte is `guard` overdue (zero: at the time-out). The LAN converter
    // learns it with the next Configure.
    void SetGuard(std::chrono::microseconds guard) { guard_ = guard; }

    // Sends `request` and waits for the reply carrying its seq and address.
    // 0 with `reply` filled, or a transport Q417_E_* code; a module's
    // refusal is a completed exchange and travels in reply.status. Replies
    // to earlier requests that come meanwhile go to Late().
    virtual int32_t Exchange(const wire::Request &request, wire::Reply &reply) = 0;

    // Takes in what has arrived since the last call and, while no late
    // reply is kept, waits for one until `until`. 0, or Q417_E_IO.
    virtual int32_t Listen(std::chrono::steady_clock::time_point until) = 0;

    LateReplies &Late() { return late_; }

protected:
    std::chrono::microseconds guard_{0};
    LateReplies late_;
};

// Each returns null with `error` set when the device cannot be opened.

// Kind 4: the LAN converter at `ip` (dotted IPv4 text) and UDP `port`.
std::unique_ptr<Transport> OpenUdp(const char *ip, int32_t port, int32_t timeoutMs,
                                   int32_t &error);

// Kind 0: COM `port` (1..256), the device named by environment variable
// Q417_COM<port> if set, else /dev/ttyS<port-1>.
std::unique_ptr<Transport> OpenSerial(int32_t port, int32_t &error);
std::string SerialDevicePath(int32_t port);

// Kinds 1..3: the simulated module at address 1 on a bus that lives as long
// as the library stays loaded.
std::unique_ptr<Transport> OpenLocal();

} // namespace drv
