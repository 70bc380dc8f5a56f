#include "TermiosRates.h"

#include "BusTiming.h"

#include <cstddef>
#include <iterator>

namespace bus {

namespace {

// Index for index with Rates: the B constants are codes, not rates, on Linux.
constexpr speed_t Speeds[] = {B600, B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200};
static_assert(std::size(Speeds) == std::size(Rates));

} // namespace

std::optional<speed_t> TermiosSpeed(int32_t bd)
{
    if (const std::optional<uint8_t> code = BaudCode(bd))
        return Speeds[*code];
    return std::nullopt;
}

int32_t TermiosRate(speed_t speed)
{
    for (std::size_t i = 0; i < std::size(Speeds); ++i) {
        if (Speeds[i] == speed)
            return Rates[i];
    }
    return 0;
}

} // namespace bus
