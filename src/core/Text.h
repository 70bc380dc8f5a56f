// Text rules shared by the settings file, the driver text arrays and the
// dialogs: the Windows-1250 code page the modules and settings files use,
// and the one text-to-integer rule.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Windows-1250 bytes to UTF-8. Every byte maps to one character; the five
// bytes the code page leaves undefined map to the C1 controls of the same
// value, so that any byte string survives a round trip.
std::string Cp1250ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1250 bytes. A character the code page cannot hold, and
// every byte of a malformed UTF-8 sequence, becomes '?'.
std::string Utf8ToCp1250(std::string_view text);

// Number of characters (code points) in a UTF-8 text; a malformed byte
// counts as one character.
std::size_t Utf8Length(std::string_view text);

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

// The text without the blanks and tabs around it.
std::string_view TrimBlanks(std::string_view text);

// A user's text in Czech quotation marks, as messages cite it: „text“.
std::string Quoted(std::string_view text);

// A count after the Czech preposition "v", which takes the locative: "ve"
// where the numeral read aloud starts with a cluster the bare "v" cannot
// join ("ve 4" – ve čtyřech, "ve 200" – ve dvou stech), otherwise "v"
// ("v 5" – v pěti, "v 66" – v šedesáti šesti). Returns "ve 4", "v 5".
std::string InCount(uint64_t count);
