// The code-page conversions and the driver text arrays on any bytes.
#include "Dekl.h"
#include "FuzzFile.h"
#include "Text.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);

    // As Windows-1250 bytes: every byte is one character and comes back.
    const std::string utf8 = Cp1250ToUtf8(input);
    FUZZ_CHECK(Utf8Length(utf8) == size);
    FUZZ_CHECK(Utf8ToCp1250(utf8) == input);

    // As UTF-8 text: one byte out per character, and only what the code
    // page holds, which then converts back unchanged.
    const std::string bytes = Utf8ToCp1250(input);
    FUZZ_CHECK(bytes.size() == Utf8Length(input));
    FUZZ_CHECK(Utf8ToCp1250(Cp1250ToUtf8(bytes)) == bytes);

    // Through a driver text array: at most 99 code-page characters, up to
    // the first 0.
    TDataArray a{};
    FUZZ_CHECK(StrToDataArray(std::string(input), a) == 0);
    std::string back;
    DataArrayToStr(a, back);
    const std::string kept = bytes.substr(0, std::min<std::size_t>(bytes.find('\0'), 99));
    FUZZ_CHECK(back == Cp1250ToUtf8(kept));
    return 0;
}
