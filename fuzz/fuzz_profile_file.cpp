// Any bytes as a settings file: reading keeps every byte, a write then a
// re-read agree, what was not written stays as it was, and a batch saves
// exactly what the same writes one by one save.
#include "FuzzFile.h"
#include "ProfileFile.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace
{

struct Write {
    std::string section, key, value;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const auto path = ScratchDir() / "profile.ini";
    const auto batchPath = ScratchDir() / "batch.ini";
    WriteBytes(path, input);
    WriteBytes(batchPath, input);

    ProfileFile first(path);
    FUZZ_CHECK(first.Bytes() == input);

    // Keys the input may already hold (the seeds do), with values of every
    // kind the program writes; names and values come from the input's tail.
    // The first write's key is the input's own first bytes, which may name
    // a key already there, or be refused.
    const int32_t number = size >= 4 ? int32_t(uint32_t(data[size - 1]) | uint32_t(data[size - 2]) << 8 |
                                               uint32_t(data[size - 3]) << 16 |
                                               uint32_t(data[size - 4]) << 24)
                                     : int32_t(size);
    const std::string text = "Adresa " + std::to_string(number) + " ěščř";
    const std::vector<Write> writes = {
        {"Pripojeni", std::string(input.substr(0, input.find_first_of("\r\n=")).substr(0, 12)),
         "x"},
        {"Pripojeni", "Text", text},
        {"Nova", "Text", "1"},
        {"Pripojeni", "Cislo", std::to_string(number)},
        {"nova", "text", "2"},
    };
    const std::string before = first.ReadString("Other", "Key", "<none>");
    ProfileFile batched(batchPath);
    ProfileFile::Batch batch(batched);
    for (const Write &w : writes) {
        bool refused = false;
        try {
            first.WriteString(w.section, w.key, w.value);
        } catch (const std::invalid_argument &) {
            refused = true;
        }
        try {
            batch.WriteString(w.section, w.key, w.value);
            FUZZ_CHECK(!refused);
        } catch (const std::invalid_argument &) {
            FUZZ_CHECK(refused);
        }
    }
    FUZZ_CHECK(batched.Bytes() == input);
    FUZZ_CHECK(ReadBytes(batchPath) == input);
    batch.Commit();
    FUZZ_CHECK(batched.Bytes() == first.Bytes());
    FUZZ_CHECK(ReadBytes(batchPath) == first.Bytes());

    ProfileFile second(path);
    FUZZ_CHECK(second.Bytes() == first.Bytes());
    FUZZ_CHECK(ReadBytes(path) == first.Bytes());
    FUZZ_CHECK(second.ReadString("Pripojeni", "Text", "") == text);
    FUZZ_CHECK(second.ReadString(" pripojeni ", "TEXT", "") == text);
    FUZZ_CHECK(second.ReadInteger("Pripojeni", "Cislo", ~number) == number);
    FUZZ_CHECK(second.ReadString("NOVA", "Text", "") == "2");
    FUZZ_CHECK(second.ReadString("Other", "Key", "<none>") == before);

    // Writing the same values again changes nothing.
    second.WriteString("Pripojeni", "Text", text);
    second.WriteInteger("Pripojeni", "Cislo", number);
    FUZZ_CHECK(ReadBytes(path) == first.Bytes());
    return 0;
}
