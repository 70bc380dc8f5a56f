// The Windows-1250 code page the modules, the driver text arrays and the
// settings files use, and UTF-8, which everything else speaks. Here rather
// than in the core: the drivers hand their error texts out in the code page
// and link nothing above drivers/common.
#pragma once

#include <cstddef>
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
