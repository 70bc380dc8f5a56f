// The termios speed of each bus rate, for the serial line of the COM driver
// and for the pseudo-terminal the simulator and the tests share with it.
// POSIX only.
#pragma once

#include <cstdint>
#include <optional>
#include <termios.h>

namespace bus {

// The termios speed of `bd`, or nothing when `bd` is not one of Rates.
std::optional<speed_t> TermiosSpeed(int32_t bd);
// The rate in Bd of a termios speed, or 0 when it is not one of Rates.
int32_t TermiosRate(speed_t speed);

} // namespace bus
