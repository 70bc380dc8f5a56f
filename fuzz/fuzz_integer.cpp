// The one text-to-integer rule (settings file and dialogs) and the dialogs'
// byte-in-range check on any text.
#include "FuzzFile.h"
#include "NastavAdr.h"
#include "Text.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t min = data[0], max = data[1];
    const std::string_view text(reinterpret_cast<const char *>(data) + 2, size - 2);

    constexpr int32_t Untouched = 0x5EEDF00D;
    int32_t value = Untouched;
    const bool ok = TryTextToInt(text, value);
    if (!ok)
        FUZZ_CHECK(value == Untouched);
    FUZZ_CHECK(TextToIntDef(text, -7) == (ok ? value : -7));
    FUZZ_CHECK(TextToIntDef(text, 7) == (ok ? value : 7));

    if (ok) {
        // The value's decimal and hexadecimal spellings give it back.
        int32_t again = 0;
        FUZZ_CHECK(TryTextToInt(std::to_string(value), again) && again == value);
        char hex[16];
        std::snprintf(hex, sizeof hex, "$%X", uint32_t(value));
        again = 0;
        FUZZ_CHECK(TryTextToInt(hex, again) && again == value);
        // Anything after the digits spoils the number.
        FUZZ_CHECK(!TryTextToInt(std::string(text) + "g", again));
    }

    uint8_t byte = 0xA5;
    const bool inRange = StrToByteInRange(text, min, max, byte);
    FUZZ_CHECK(inRange == (ok && value >= min && value <= max));
    FUZZ_CHECK(inRange ? byte == uint8_t(value) : byte == 0xA5);
    return 0;
}
