// Any bytes as W_korval.ini: loading takes what it can, and saving what
// was loaded then loading it again gives the same record.
#include "Dekl.h"
#include "FuzzFile.h"

#include <cstdint>

namespace {

// What SaveConnection writes: the interface, address and rate, and the
// fields of that interface's own section.
// The file trims blanks and one pair of quotes from values, and the save
// does not quote, so a quoted IP text with blanks inside settles only after
// one round; its numbers must survive the first.
bool SameSaved(const TData &a, const TData &b, bool withText)
{
    if (a.Kind != b.Kind || a.Address != b.Address || a.BaudRate != b.BaudRate)
        return false;
    switch (a.Kind) {
    case ifCom:
        return a.ComPort == b.ComPort;
    case ifIsa:
        return a.BaseAddress == b.BaseAddress;
    case ifLan:
        return (!withText || a.IpAddress == b.IpAddress) && a.UdpPort == b.UdpPort &&
               a.UdpTimeout == b.UdpTimeout;
    default:
        return true;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const auto in = ScratchDir() / "in.ini";
    const auto out = ScratchDir() / "out.ini";
    WriteBytes(in, input);
    std::filesystem::remove(out);

    TData loaded;
    ConnectionDefaults(&loaded);
    LoadConnection(&loaded, in);
    FUZZ_CHECK(SaveConnection(&loaded, out));

    TData again;
    ConnectionDefaults(&again);
    FUZZ_CHECK(LoadConnection(&again, out));
    FUZZ_CHECK(SameSaved(loaded, again, false));

    std::filesystem::remove(out);
    FUZZ_CHECK(SaveConnection(&again, out));
    TData third;
    ConnectionDefaults(&third);
    FUZZ_CHECK(LoadConnection(&third, out));
    FUZZ_CHECK(SameSaved(again, third, true));
    return 0;
}
