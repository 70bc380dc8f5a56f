// Text rules shared by the settings file, the driver text arrays and the
// dialogs: the Windows-1250 code page the modules and settings files use
// (CodePage.h, with the drivers), the one text-to-integer rule, and the
// pieces every front end's texts are made of.
#pragma once

#include "CodePage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text to a 32-bit integer: leading blanks, an optional sign, then either
// decimal digits that fit a signed 32-bit integer, or one to eight
// hexadecimal digits of either case after "$", "x", "X", "0x" or "0X",
// giving that 32-bit pattern. Nothing may follow the digits. Returns false,
// leaving `value` untouched, for any other text, the empty text included.
bool TryTextToInt(std::string_view text, int32_t &value);

// TryTextToInt, or `fallback` when the text is not a number.
int32_t TextToIntDef(std::string_view text, int32_t fallback);

// Decimal digits only (no sign, no blanks), one to `maxDigits` of them
// (at most 19, so that any fits); nothing for any other text.
std::optional<uint64_t> DecimalDigits(std::string_view text, std::size_t maxDigits);

// "0,3,5-7": numbers and ranges of numbers 0..max, as a flag per number
// 0..max of whether it is named; nothing for any other text (an empty
// item, a range backwards, a number beyond max).
std::optional<std::vector<bool>> NumberRanges(std::string_view text, uint32_t max);

// The text without the blanks and tabs around it.
std::string_view TrimBlanks(std::string_view text);

// A user's text in Czech quotation marks, as messages cite it: „text“.
std::string Quoted(std::string_view text);

// A count after the Czech preposition "v", which takes the locative: "ve"
// where the numeral read aloud starts with a cluster the bare "v" cannot
// join ("ve 4" – ve čtyřech, "ve 200" – ve dvou stech), otherwise "v"
// ("v 5" – v pěti, "v 66" – v šedesáti šesti). Returns "ve 4", "v 5".
std::string InCount(uint64_t count);

// Left-aligned in `width` characters (code points), at least one blank
// after: a table's cell.
std::string Pad(std::string_view text, std::size_t width);

// "0x0000000F".
std::string HexText(uint32_t word);

// `value` with `decimals` decimals and the decimal comma Czech writes: "0,12".
std::string DecimalText(double value, int decimals);
