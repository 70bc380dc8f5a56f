#include "Dekl.h"

#include "Platform.h"
#include "ProfileFile.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace
{

// Section and key names as files written on Windows hold them.
constexpr std::string_view SecConnection = "Připojení";
constexpr std::string_view SecCom = "COMx";
constexpr std::string_view SecIsa = "PCI-417";
constexpr std::string_view SecLan = "LX-1417";
constexpr std::string_view KeyInterface = "Rozhraní";
constexpr std::string_view KeyAddress = "Adresa";
constexpr std::string_view KeyRate = "Rychlost";
constexpr std::string_view KeyBaseAddress = "Bázová adresa";
constexpr std::string_view KeyComPort = "Číslo portu";
constexpr std::string_view KeyIpAddress = "IP adresa";
constexpr std::string_view KeyUdpPort = "UDP port";
constexpr std::string_view KeyUdpTimeout = "UDP timeout";

// Read back when the file names no interface.
constexpr std::string_view NoInterface = "jkl";

// Interface names in the file; the position is the kind.
constexpr std::string_view InterfaceNames[] = {"COMx", "PCI-417", "PCI-1417", "USB-1417",
                                               "LX-1417"};

const char *const InterfaceKeys[] = {"com", "isa", "pci", "usb", "lan"};
const char *const InterfaceTexts[] = {"Standardní COMx", "ISA karta PCI-417", "PCI karta PCI-1417",
                                      "USB konvertor USB-1417", "LAN konvertor LX-1417"};

} // namespace

const char *InterfaceKey(uint8_t kind)
{
    return kind < std::size(InterfaceKeys) ? InterfaceKeys[kind] : nullptr;
}

std::string InterfaceText(const TData &D)
{
    if (D.Kind >= std::size(InterfaceTexts))
        return {};
    std::string text = InterfaceTexts[D.Kind];
    char detail[64] = "";
    switch (D.Kind) {
    case ifCom:
        std::snprintf(detail, sizeof detail, ", COM%u", unsigned(D.ComPort));
        break;
    case ifIsa:
        std::snprintf(detail, sizeof detail, ", báze %03Xh", unsigned(D.BaseAddress));
        break;
    case ifLan:
        std::snprintf(detail, sizeof detail, ", %s:%u", D.IpAddress.c_str(), unsigned(D.UdpPort));
        break;
    default:
        break;
    }
    return text + detail;
}

TModuleConfig ModuleConfigDefaults()
{
    return TModuleConfig{1, 4, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}};
}

void ConnectionDefaults(TData *D)
{
    if (D == nullptr)
        return;
    D->Kind = ifCom;
    D->Address = 0;
    D->BaudRate = 9600;
    D->BaseAddress = 0x300;
    D->ComPort = 1;
    D->IpAddress = DefaultIpAddress;
    D->UdpPort = 5000;
    D->UdpTimeout = 1000;
    D->StatusText = "Připojení modulu dosud neinicializováno";
    D->Handle = 0;
    D->Connected = false;
    D->InitParams.fill(0);
    D->ModuleConfig = ModuleConfigDefaults();
}

SettingsFiles SettingsFilesOf(const std::filesystem::path &programDirectory)
{
    const std::filesystem::path beside = programDirectory / SettingsFileName;
    if (platform::CanReplaceFile(beside))
        return {beside, {}};
    const std::filesystem::path user = platform::UserConfigDirectory();
    if (user.empty())
        return {beside, {}};
    return {user / SettingsFolderName / SettingsFileName, beside};
}

std::filesystem::path SettingsFilePath()
{
    return SettingsFilePath(platform::ExecutableDirectory());
}

std::filesystem::path SettingsFilePath(const std::filesystem::path &programDirectory)
{
    return SettingsFilesOf(programDirectory).file;
}

bool LoadConnection(TData *D)
{
    return LoadConnection(D, SettingsFilesOf(platform::ExecutableDirectory()));
}

bool LoadConnection(TData *D, const std::filesystem::path &file)
{
    return LoadConnection(D, SettingsFiles{file, {}});
}

bool LoadConnection(TData *D, const SettingsFiles &files)
{
    if (D == nullptr)
        return false;
    const ProfileFile ini(files.file, files.fallback);
    const std::string name = ini.ReadString(SecConnection, KeyInterface, NoInterface);
    if (name == NoInterface)
        return false;

    // Each value falls back to the field's current value; the casts keep
    // the field's low bits, as the file format has always done.
    D->Address = uint8_t(ini.ReadInteger(SecConnection, KeyAddress, D->Address));
    D->BaudRate = uint32_t(ini.ReadInteger(SecConnection, KeyRate, int32_t(D->BaudRate)));
    D->BaseAddress = uint16_t(ini.ReadInteger(SecIsa, KeyBaseAddress, D->BaseAddress));
    D->ComPort = uint8_t(ini.ReadInteger(SecCom, KeyComPort, D->ComPort));
    D->IpAddress = ini.ReadString(SecLan, KeyIpAddress, D->IpAddress);
    D->UdpPort = uint32_t(ini.ReadInteger(SecLan, KeyUdpPort, int32_t(D->UdpPort)));
    D->UdpTimeout = uint32_t(ini.ReadInteger(SecLan, KeyUdpTimeout, int32_t(D->UdpTimeout)));

    for (uint8_t kind = 0; kind < std::size(InterfaceNames); ++kind) {
        if (name == InterfaceNames[kind])
            D->Kind = kind;
    }
    return true;
}

bool SaveConnection(TData *D)
{
    if (D == nullptr)
        return false;
    const SettingsFiles files = SettingsFilesOf(platform::ExecutableDirectory());
    // A folder that cannot be made shows up as the write error below.
    std::error_code ignored;
    std::filesystem::create_directories(files.file.parent_path(), ignored);
    return SaveConnection(D, files);
}

bool SaveConnection(TData *D, const std::filesystem::path &file)
{
    return SaveConnection(D, SettingsFiles{file, {}});
}

bool SaveConnection(TData *D, const SettingsFiles &files)
{
    if (D == nullptr)
        return false;
    ProfileFile ini(files.file, files.fallback);
    // One save for the whole record: a kill or a failed write can never
    // leave the new interface beside the old address, and the close that
    // calls this pays for one durable save, not one per key.
    ProfileFile::Batch save(ini);
    const uint8_t kind = D->Kind <= ifLan ? D->Kind : uint8_t(ifCom);
    save.WriteString(SecConnection, KeyInterface, InterfaceNames[kind]);
    switch (kind) {
    case ifCom:
        save.WriteInteger(SecCom, KeyComPort, D->ComPort);
        break;
    case ifIsa:
        save.WriteInteger(SecIsa, KeyBaseAddress, D->BaseAddress);
        break;
    case ifLan:
        save.WriteString(SecLan, KeyIpAddress, D->IpAddress);
        save.WriteInteger(SecLan, KeyUdpPort, int32_t(D->UdpPort));
        save.WriteInteger(SecLan, KeyUdpTimeout, int32_t(D->UdpTimeout));
        break;
    default:
        break;
    }
    save.WriteInteger(SecConnection, KeyAddress, D->Address);
    // The reader takes signed 32-bit decimals only; a value from 2^31 up
    // written as its unsigned decimal would not load again.
    save.WriteInteger(SecConnection, KeyRate, int32_t(D->BaudRate));
    save.Commit();
    return true;
}

void DataArrayToStr(TDataArray A, std::string &S)
{
    std::string bytes;
    for (std::size_t i = 0; i < A.size(); ++i) {
        if (A[i] != 0)
            bytes.push_back(char(A[i] & 0xFF));
        else if (i > 0)
            break;
    }
    S = Cp1250ToUtf8(bytes);
}

int StrToDataArray(const std::string &S, TDataArray &A)
{
    A.fill(0);
    const std::string bytes = Utf8ToCp1250(S);
    const std::size_t n = std::min<std::size_t>(bytes.size(), A.size() - 1);
    for (std::size_t j = 0; j < n; ++j)
        A[j + 1] = static_cast<unsigned char>(bytes[j]);
    return 0;
}
