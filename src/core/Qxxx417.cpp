#include "Qxxx417.h"

#include "Platform.h"
#include "q417drv.h"

#include <algorithm>
#include <string>

namespace
{

struct LibraryName {
    const char *file;   // as the system names it on Windows
    const char *prefix; // of its seven entries
};

constexpr LibraryName Libraries[] = {
    {"QCOM417.DLL", "QCOM417_"},   {"QPCI417.DLL", "QPCI417_"}, {"QPCI1417.DLL", "QPCI1417_"},
    {"QUSB1417.DLL", "QUSB1417_"}, {"QLX1417.DLL", "QLX1417_"},
};
constexpr uint8_t KindCount = std::size(Libraries);

// Entries of the loaded library, filled all or nothing. Init has one slot
// per call form; only the slot of the loaded kind is set.
struct DriverTable {
    q417_version_fn Version = nullptr;
    q417_init_port_fn InitPort = nullptr;
    q417_init_plain_fn InitPlain = nullptr;
    q417_init_params_fn InitParams = nullptr;
    q417_setconfig_fn SetConfig = nullptr;
    q417_getconfig_fn GetConfig = nullptr;
    q417_send_fn Send = nullptr;
    q417_done_fn Done = nullptr;
    q417_error_fn Error = nullptr;
    q417_setguard_fn SetGuard = nullptr; // optional: only our own drivers have these
    q417_late_fn Late = nullptr;
};

// There is only ever one connection, so one library and one table.
platform::LibraryHandle Library = nullptr;
DriverTable Entries;
std::filesystem::path LibraryDirectory;
bool LibraryDirectorySet = false;

// The arrays a library reads and writes are the binding's own, far longer
// than the interface's 100 elements: a library that writes past them
// spoils only this spare room, never the caller's arrays, which the windows
// keep on the stack. Only the defined elements travel to and from the
// caller. Static, as the table above: everything runs on one thread.
constexpr std::size_t SpareLength = 4096;
struct SpareArrays {
    int32_t request[SpareLength]; // DrvSend's copy of its caller's request
    int32_t call[SpareLength];    // ModuleCall's request, composed in place
    int32_t reply[SpareLength];
    int32_t text[SpareLength];
    int32_t late[SpareLength];
};
SpareArrays Spare;
static_assert(std::tuple_size_v<TDataArray> == Q417_ARRAY_LEN);

// Send with a request in spare room of its own.
int32_t SendSpare(uint8_t kind, int32_t handle, const int32_t *request, TDataArray &reply,
                  int32_t &xOut, int32_t &status)
{
    if (kind >= KindCount || Entries.Send == nullptr)
        return DrvNotLoaded;
    // The reply is the library's to write whole, so the caller's array is
    // not copied in first: on this, the hot path, one copy of 100 elements
    // is the whole cost. Elements a library leaves alone come back as the
    // spare room holds them, 0 unless some library wrote them.
    const int32_t r = Entries.Send(handle, request, Spare.reply, &xOut, &status);
    std::copy_n(Spare.reply, reply.size(), reply.begin());
    return r;
}

void Unload()
{
    Entries = DriverTable{};
    platform::UnloadLibrary(Library);
    Library = nullptr;
}

template <typename Fn> Fn Entry(platform::LibraryEntry e)
{
    return reinterpret_cast<Fn>(e);
}

// Looks the seven entries up in their fixed order; false when any is missing.
bool Bind(uint8_t kind)
{
    static constexpr const char *Suffixes[] = {"Version", "Init", "SetConfig", "GetConfig",
                                               "Send",    "Done", "Error"};
    platform::LibraryEntry found[std::size(Suffixes)] = {};
    for (std::size_t i = 0; i < std::size(Suffixes); ++i) {
        const std::string name = std::string(Libraries[kind].prefix) + Suffixes[i];
        found[i] = platform::FindEntry(Library, name.c_str());
        if (found[i] == nullptr)
            return false;
    }
    DriverTable t;
    t.Version = Entry<q417_version_fn>(found[0]);
    if (kind == ifCom || kind == ifIsa)
        t.InitPort = Entry<q417_init_port_fn>(found[1]);
    else if (kind == ifLan)
        t.InitParams = Entry<q417_init_params_fn>(found[1]);
    else
        t.InitPlain = Entry<q417_init_plain_fn>(found[1]);
    t.SetConfig = Entry<q417_setconfig_fn>(found[2]);
    t.GetConfig = Entry<q417_getconfig_fn>(found[3]);
    t.Send = Entry<q417_send_fn>(found[4]);
    t.Done = Entry<q417_done_fn>(found[5]);
    t.Error = Entry<q417_error_fn>(found[6]);
    auto optional = [&](const char *suffix) {
        return platform::FindEntry(Library, (std::string(Libraries[kind].prefix) + suffix).c_str());
    };
    t.SetGuard = Entry<q417_setguard_fn>(optional("SetGuard"));
    t.Late = Entry<q417_late_fn>(optional("Late"));
    Entries = t;
    return true;
}

std::string LibraryText(int32_t code)
{
    if (code >= DrvLoadFailed && code < DrvLoadFailed + KindCount)
        return std::string("chyba inicializace knihovny ") + Libraries[code - DrvLoadFailed].file;
    if (code >= DrvBadLibrary && code < DrvBadLibrary + KindCount)
        return std::string("chybná knihovna ") + Libraries[code - DrvBadLibrary].file;
    return "neznámý chybový kód";
}

} // namespace

void DrvSetLibraryDirectory(const std::filesystem::path &directory)
{
    LibraryDirectory = directory;
    LibraryDirectorySet = true;
}

int32_t DrvInit(uint8_t Kind, int32_t &Handle, TInitParams Params)
{
    // A library left loaded by a failed Init is released before the next
    // load, so repeated attempts do not pile up loaded libraries.
    Unload();
    if (Kind >= KindCount)
        return DrvNotLoaded;

    const std::filesystem::path dir =
        LibraryDirectorySet ? LibraryDirectory : platform::ExecutableDirectory();
    Library = platform::LoadDriverLibrary(Libraries[Kind].file, dir);
    if (Library == nullptr)
        return DrvLoadFailed + Kind;
    if (!Bind(Kind)) {
        Unload();
        return DrvBadLibrary + Kind;
    }

    if (Entries.InitParams != nullptr)
        return Entries.InitParams(&Handle, Params.data());
    const int32_t r = Entries.InitPort != nullptr ? Entries.InitPort(&Handle, Params[0])
                                                  : Entries.InitPlain(&Handle);
    // Kind 4 reads the silence guard from its block; the other kinds' Init
    // has no block, so it goes through the optional entry. A library
    // without the entry keeps whole time-outs, as the caller expects of any.
    const int32_t guard = Params[Q417_PARAM_GUARD];
    if (r != 0 || guard == 0 || Entries.SetGuard == nullptr)
        return r;
    if (const int32_t g = Entries.SetGuard(Handle, guard); g != 0) {
        Entries.Done(&Handle);
        return g;
    }
    return 0;
}

int32_t DrvSetConfig(uint8_t Kind, int32_t Handle, uint32_t Rate, uint32_t TimeOut, int32_t Retries)
{
    if (Kind >= KindCount || Entries.SetConfig == nullptr)
        return DrvNotLoaded;
    return Entries.SetConfig(Handle, int32_t(Rate), int32_t(TimeOut), Retries);
}

int32_t DrvSend(uint8_t Kind, int32_t Handle, const TDataArray &Request, TDataArray &Reply,
                int32_t &XOut, int32_t &Status)
{
    std::copy(Request.begin(), Request.end(), Spare.request);
    return SendSpare(Kind, Handle, Spare.request, Reply, XOut, Status);
}

int32_t DrvLate(uint8_t Kind, int32_t Handle, uint32_t WaitMs, std::vector<TLateReply> &Replies)
{
    Replies.clear();
    if (Kind >= KindCount || Entries.Late == nullptr)
        return DrvNotLoaded;
    int32_t count = 0;
    const int32_t r =
        Entries.Late(Handle, int32_t(std::min<uint32_t>(WaitMs, INT32_MAX)), Spare.late, &count);
    if (r != 0)
        return r;
    // A library that claims more than its array holds is cut to the array.
    count = std::clamp<int32_t>(count, 0, Q417_LATE_MAX);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t *record = Spare.late + i * Q417_LATE_FIELDS;
        if (record[0] < 0 || record[0] > 0xFF || record[1] <= 0)
            continue;
        Replies.push_back({uint8_t(record[0]), uint32_t(record[1]),
                           std::chrono::microseconds(std::max<int32_t>(record[2], 0))});
    }
    return 0;
}

int32_t DrvDone(uint8_t Kind, int32_t &Handle)
{
    if (Kind >= KindCount || Entries.Done == nullptr)
        return DrvNotLoaded;
    const int32_t result = Entries.Done(&Handle);
    Unload();
    return result;
}

int32_t DrvErrorText(uint8_t Kind, uint32_t Code, TDataArray &Text)
{
    if (Code < uint32_t(DrvLoadFailed)) {
        if (Kind >= KindCount || Entries.Error == nullptr)
            return DrvNotLoaded;
        // Rare enough to keep what the library leaves alone as it was.
        std::copy(Text.begin(), Text.end(), Spare.text);
        const int32_t r = Entries.Error(int32_t(Code), Spare.text);
        std::copy_n(Spare.text, Text.size(), Text.begin());
        // An over-long text still ends inside the array.
        Text.back() = 0;
        return r;
    }
    return StrToDataArray(LibraryText(Code > 0x7FFFFFFFu ? -1 : int32_t(Code)), Text);
}

void ModuleCall(uint8_t Kind, int32_t Handle, uint8_t Address, uint8_t Cmd, uint8_t Sub, uint8_t &X,
                uint8_t &D0, uint8_t &D1, uint8_t &D2, uint8_t &D3, uint8_t &Status,
                TDataArray &Reply)
{
    if (Handle == 0)
        return;

    // Composed in place in the spare request, so it is not copied again.
    // Elements 8..99 are never written and stay 0; only the eight used ones
    // are set per call, which keeps the binding's cost beside a fast driver
    // small. Drivers get the request read-only. It cannot fail to be
    // composed, so DrvNotComposed is never raised here.
    int32_t *request = Spare.call;
    request[0] = Address;
    request[1] = Cmd;
    request[2] = Sub;
    request[3] = X;
    request[4] = D0;
    request[5] = D1;
    request[6] = D2;
    request[7] = D3;

    int32_t xOut = 0;
    int32_t s = 0;
    const int32_t r = SendSpare(Kind, Handle, request, Reply, xOut, s);
    if (r != 0)
        s = r;

    // A code that does not fit the 8-bit status must not truncate to 0 and
    // pass for success; 255 has the text "neznámý chybový kód".
    Status = (s >= 0 && s <= 0xFF) ? uint8_t(s) : 0xFF;
    if (s == 0) {
        X = uint8_t(xOut & 0xFF);
        D0 = uint8_t(Reply[0] & 0xFF);
        D1 = uint8_t(Reply[1] & 0xFF);
        D2 = uint8_t(Reply[2] & 0xFF);
        D3 = uint8_t(Reply[3] & 0xFF);
    } else {
        X = D0 = D1 = D2 = D3 = 0;
    }
}
