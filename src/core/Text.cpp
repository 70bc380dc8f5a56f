#include "Text.h"

#include <algorithm>
#include <cstdio>

namespace
{

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c)
{
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

bool TryTextToInt(std::string_view text, int32_t &value)
{
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        return false;
    }
    text.remove_prefix(start);
    const bool negative = text.front() == '-';
    if (negative || text.front() == '+') {
        text.remove_prefix(1);
    }

    // "0x" is a prefix, not the decimal 0 followed by garbage.
    std::size_t prefix = 0;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        prefix = 2;
    } else if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
        prefix = 1;
    }
    if (prefix != 0) {
        text.remove_prefix(prefix);
        if (text.empty() || text.size() > 8) {
            return false;
        }
        uint32_t bits = 0;
        for (const char c : text) {
            const int digit = HexDigitValue(c);
            if (digit < 0) {
                return false;
            }
            bits = (bits << 4) | static_cast<uint32_t>(digit);
        }
        // The sign negates the pattern modulo 2^32: "-$1" is -1.
        value = static_cast<int32_t>(negative ? 0u - bits : bits);
        return true;
    }

    if (text.empty()) {
        return false;
    }
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t magnitude = 0;
    for (const char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) {
            return false;
        }
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

int32_t TextToIntDef(std::string_view text, int32_t fallback)
{
    int32_t value = fallback;
    TryTextToInt(text, value);
    return value;
}

std::optional<uint64_t> DecimalDigits(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits || text.size() > 19)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    return value;
}

std::optional<std::vector<bool>> NumberRanges(std::string_view text, uint32_t max)
{
    std::vector<bool> named(std::size_t(max) + 1, false);
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        const std::size_t dash = item.find('-');
        const std::optional<uint64_t> first = DecimalDigits(item.substr(0, dash), 10);
        const std::optional<uint64_t> last =
            dash == std::string_view::npos ? first : DecimalDigits(item.substr(dash + 1), 10);
        if (!first || !last || *first > *last || *last > max)
            return std::nullopt;
        for (uint64_t n = *first; n <= *last; ++n)
            named[n] = true;
        if (comma == std::string_view::npos)
            return named;
        start = comma + 1;
    }
}

std::string_view TrimBlanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Quoted(std::string_view text)
{
    return "„" + std::string(text) + "“";
}

namespace
{

// Whether the locative of `n` read aloud starts with dv-, tř-, čt- or st-:
// ve dvou, ve třech, ve čtyřech, ve dvanácti ... ve čtrnácti, ve dvaceti,
// ve třiceti, ve čtyřiceti, ve stu. A thousand, a million and a billion
// alone are v tisíci, v milionu, v miliardě; more of them are read from
// their count (ve dvou tisících).
bool TakesVe(uint64_t n)
{
    for (const uint64_t unit : {1'000'000'000ull, 1'000'000ull, 1'000ull}) {
        if (n >= unit)
            return n / unit != 1 && TakesVe(n / unit);
    }
    if (n >= 100)
        return n / 100 == 1 || TakesVe(n / 100);
    if (n >= 20)
        return n / 10 <= 4;
    return (n >= 2 && n <= 4) || (n >= 12 && n <= 14);
}

} // namespace

std::string InCount(uint64_t count)
{
    return (TakesVe(count) ? "ve " : "v ") + std::to_string(count);
}

// Czech letters take two bytes and one column.
std::string Pad(std::string_view text, std::size_t width)
{
    const std::size_t length = Utf8Length(text);
    return std::string(text) + std::string(length < width ? width - length : 1, ' ');
}

std::string HexText(uint32_t word)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", word);
    return text;
}

std::string DecimalText(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}
