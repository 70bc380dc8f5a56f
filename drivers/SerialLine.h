// A serial line as the COM driver's exchange (TransportSerial.cpp) uses
// it; each platform opens its own (SerialLinePosix.cpp, SerialLineWin.cpp).
#pragma once

#include "BusTiming.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace drv {

// What the exchange needs from a serial line: 8N1, no flow control. Read
// and Write return the number of bytes moved (0 when the time ran out) or
// -1 on a system error.
class Line {
public:
    virtual ~Line() = default;
    // One of the rates of SerialRates; false when the line refuses it.
    virtual bool SetRate(int32_t rate) = 0;
    virtual bool FlushInput() = 0;
    // What has arrived, without waiting: bytes moved, or -1.
    virtual int ReadQueued(uint8_t *bytes, std::size_t size) = 0;
    virtual int Write(const uint8_t *bytes, std::size_t size, int timeoutMs) = 0;
    virtual int Read(uint8_t *bytes, std::size_t size, int timeoutMs) = 0;
    // As Read, waiting at most until `deadline`, to the microsecond where
    // the platform can: a byte time at 115200 Bd is 87 us.
    virtual int ReadBy(uint8_t *bytes, std::size_t size,
                       std::chrono::steady_clock::time_point deadline)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return left.count() > 0 ? Read(bytes, size, int(left.count())) : 0;
    }
};

// The rates a module's baud code can select.
inline constexpr const auto &SerialRates = bus::Rates;

// The device at `path` (from SerialDevicePath), held for this line alone
// until it is destroyed; or null with `error` set: Q417_E_PORT_TAKEN while
// someone else holds it, Q417_E_OPEN when it cannot be opened as a serial
// line.
std::unique_ptr<Line> OpenLine(const std::string &path, int32_t &error);

inline int MsLeft(std::chrono::steady_clock::time_point deadline)
{
    return int(std::chrono::ceil<std::chrono::milliseconds>(
                   deadline - std::chrono::steady_clock::now())
                   .count());
}

} // namespace drv
