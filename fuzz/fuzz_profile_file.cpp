// Any bytes as a settings file: reading keeps every byte, a write then a
// re-read agree, and what was not written stays as it was.
#include "FuzzFile.h"
#include "ProfileFile.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const auto path = ScratchDir() / "profile.ini";
    WriteBytes(path, input);

    ProfileFile first(path);
    FUZZ_CHECK(first.Bytes() == input);

    // Keys the input may already hold (the seeds do), with values of every
    // kind the program writes; names and values come from the input's tail.
    const int32_t number = size >= 4 ? int32_t(uint32_t(data[size - 1]) | uint32_t(data[size - 2]) << 8 |
                                               uint32_t(data[size - 3]) << 16 |
                                               uint32_t(data[size - 4]) << 24)
                                     : int32_t(size);
    const std::string text = "Adresa " + std::to_string(number) + " ěščř";
    const std::string before = first.ReadString("Other", "Key", "<none>");
    first.WriteString("Pripojeni", "Text", text);
    first.WriteInteger("Pripojeni", "Cislo", number);

    ProfileFile second(path);
    FUZZ_CHECK(second.Bytes() == first.Bytes());
    FUZZ_CHECK(ReadBytes(path) == first.Bytes());
    FUZZ_CHECK(second.ReadString("Pripojeni", "Text", "") == text);
    FUZZ_CHECK(second.ReadString(" pripojeni ", "TEXT", "") == text);
    FUZZ_CHECK(second.ReadInteger("Pripojeni", "Cislo", ~number) == number);
    FUZZ_CHECK(second.ReadString("Other", "Key", "<none>") == before);

    // Writing the same values again changes nothing.
    second.WriteString("Pripojeni", "Text", text);
    second.WriteInteger("Pripojeni", "Cislo", number);
    FUZZ_CHECK(ReadBytes(path) == first.Bytes());
    return 0;
}
