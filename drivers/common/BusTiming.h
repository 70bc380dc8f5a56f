// The time a 417 bus takes: the rates a module's baud code selects and what
// one request/response exchange costs on the wire. The in-process drivers
// and the simulator both hold their replies back by this model.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace bus {

using Duration = std::chrono::nanoseconds;

// The rate of each baud code 0..8, in Bd. A module leaves the factory at
// code 4, 9600 Bd, so that is also the rate a bus runs at until the master
// sets one.
inline constexpr int32_t Rates[] = {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr uint8_t DefaultBaudCode = 4;
inline constexpr int32_t DefaultRate = Rates[DefaultBaudCode];

// The baud code of `bd`, or nothing when no module can run at it.
std::optional<uint8_t> BaudCode(int32_t bd);
// The rate of `code` in Bd, or 0 for a code above 8.
int32_t Rate(uint8_t code);

// `bytes` bytes at `bd` Bd, 10 bits each (start, 8 data, stop); 0 for a
// rate that is not positive.
Duration WireTime(std::size_t bytes, int32_t bd);

// A module starts its reply this long after the last bit of the request: a
// small controller parses the frame, checks the CRC and turns its line
// driver around well within a millisecond, and 1 ms is what bus masters
// commonly leave a slave before they listen.
inline constexpr Duration DefaultTurnaround = std::chrono::milliseconds(1);

struct Timing {
    bool real = true; /**< false: replies at once, silence reported at once */
    Duration turnaround = DefaultTurnaround;
};

// Request on the wire, the module's turnaround, reply on the wire.
Duration ExchangeTime(int32_t bd, Duration turnaround);

// Request on the wire, the module's turnaround, the reply's first byte:
// the earliest a master can be sure nobody answers.
Duration FirstByteTime(int32_t bd, Duration turnaround);

// "none" or "real"; nothing for anything else.
std::optional<bool> ParseTimingMode(const std::string &text);
// Whole milliseconds 0..MaxTurnaroundMs; nothing for anything else.
inline constexpr unsigned MaxTurnaroundMs = 1000;
std::optional<Duration> ParseTurnaroundMs(const std::string &text);

} // namespace bus
