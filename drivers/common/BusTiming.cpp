#include "BusTiming.h"

#include "Wire.h"

#include <charconv>

namespace bus {

std::optional<uint8_t> BaudCode(int32_t bd)
{
    for (std::size_t code = 0; code < std::size(Rates); ++code) {
        if (Rates[code] == bd)
            return uint8_t(code);
    }
    return std::nullopt;
}

int32_t Rate(uint8_t code)
{
    return code < std::size(Rates) ? Rates[code] : 0;
}

Duration WireTime(std::size_t bytes, int32_t bd)
{
    if (bd <= 0)
        return Duration::zero();
    constexpr int64_t BitsPerByte = 10;
    constexpr int64_t NsPerSecond = 1'000'000'000;
    // Rounded up: a reply must never leave before its last bit could have.
    const int64_t bits = int64_t(bytes) * BitsPerByte;
    return Duration((bits * NsPerSecond + bd - 1) / bd);
}

Duration ExchangeTime(int32_t bd, Duration turnaround)
{
    return WireTime(wire::RequestSize, bd) + turnaround + WireTime(wire::ReplySize, bd);
}

Duration FirstByteTime(int32_t bd, Duration turnaround)
{
    return WireTime(wire::RequestSize, bd) + turnaround + WireTime(1, bd);
}

std::optional<bool> ParseTimingMode(const std::string &text)
{
    if (text == "real")
        return true;
    if (text == "none")
        return false;
    return std::nullopt;
}

std::optional<Duration> ParseTurnaroundMs(const std::string &text)
{
    unsigned ms = 0;
    const char *end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, ms);
    if (text.empty() || ec != std::errc() || at != end || ms > MaxTurnaroundMs)
        return std::nullopt;
    return std::chrono::milliseconds(ms);
}

} // namespace bus
