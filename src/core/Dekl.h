// Declarations every window shares: the connection record, its defaults and
// settings file, and the text conversions of the driver data arrays.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// Interface kinds; TData::Kind holds one.
enum : uint8_t { ifCom = 0, ifIsa = 1, ifPci = 2, ifUsb = 3, ifLan = 4 };

// A kind's short name: "com", "isa", "pci", "usb", "lan", as korvalctl's
// --interface, its JSON and the exchange trace write it; null past ifLan.
const char *InterfaceKey(uint8_t kind);

// Image of a module's configuration registers. Its byte layout is the
// register image the configuration dialogs work on, so it must stay packed.
struct TModuleConfig {
    uint8_t Address;                      // register 63
    uint8_t BaudCode;                     // register 62, 0..8
    std::array<uint8_t, 4> DinNegation;   // registers 33, 36, 39, 42
    std::array<uint8_t, 4> DoutNegation;  // registers 34, 37, 40, 43
    std::array<uint8_t, 4> DoutInitState; // registers 32, 35, 38, 41

    bool operator==(const TModuleConfig &) const = default;
};
static_assert(sizeof(TModuleConfig) == 14);
static_assert(offsetof(TModuleConfig, Address) == 0);
static_assert(offsetof(TModuleConfig, BaudCode) == 1);
static_assert(offsetof(TModuleConfig, DinNegation) == 2);
static_assert(offsetof(TModuleConfig, DoutNegation) == 6);
static_assert(offsetof(TModuleConfig, DoutInitState) == 10);

// Requests, replies and texts exchanged with the driver libraries: one byte
// value per element.
using TDataArray = std::array<int32_t, 100>;

// Parameter block handed to DrvInit.
using TInitParams = std::array<int32_t, 16>;

// The one record of connection settings and connection state of a run.
// Strings are UTF-8.
struct TData {
    uint8_t Kind = 0;
    uint8_t Address = 0;
    uint32_t BaudRate = 0;
    uint16_t BaseAddress = 0;
    uint8_t ComPort = 0;
    std::string IpAddress;
    uint32_t UdpPort = 0;
    uint32_t UdpTimeout = 0;
    std::string StatusText;
    int32_t Handle = 0;
    bool Connected = false;
    std::string ModuleName;
    TInitParams InitParams{};
    TModuleConfig ModuleConfig{};
};

// The LAN converter's address until the user enters another.
inline constexpr const char *DefaultIpAddress = "192.168.1.100";

inline constexpr const char *SettingsFileName = "W_korval.ini";

// The per-user folder of the settings file when the program's own
// directory cannot take it.
inline constexpr const char *SettingsFolderName = "W_korval";

// Shown by the main window when the record cannot be created.
inline constexpr const char *TextNoDataStructures = "Nelze vytvořit datové struktury programu";

// The record's start values; ModuleName is left alone. Null is ignored.
void ConnectionDefaults(TData *D);

TModuleConfig ModuleConfigDefaults();

// The settings files of a program: `file` is read and written; while it
// does not exist, `fallback` (when not empty) is read in its place, and the
// first save copies the fallback's content into `file`.
struct SettingsFiles {
    std::filesystem::path file;
    std::filesystem::path fallback;
};

// "W_korval.ini" in the program's directory when it can be written there
// (platform::CanReplaceFile: the file readable and writable, or none yet,
// and the directory writable). Otherwise, as Windows does for old programs under Program
// Files, "W_korval/W_korval.ini" in platform::UserConfigDirectory(), with
// the file beside the program as its fallback: one an administrator placed
// there is read until the user first saves, and is never changed. The
// program's directory also when the system names no per-user directory.
SettingsFiles SettingsFilesOf(const std::filesystem::path &programDirectory);
// SettingsFilesOf(...).file for the running executable, or for a program
// in `programDirectory`.
std::filesystem::path SettingsFilePath();
std::filesystem::path SettingsFilePath(const std::filesystem::path &programDirectory);

// Reads the settings file into D, each missing or unreadable value keeping
// the field's current value. True when the file named an interface.
bool LoadConnection(TData *D);
bool LoadConnection(TData *D, const std::filesystem::path &file);
bool LoadConnection(TData *D, const SettingsFiles &files);

// Writes D to the settings file in one save of the whole file, on top of
// what the file holds at that moment; the one-argument form first creates
// the per-user folder when that is where the file goes. False when D is
// null. Throws ProfileWriteError ("Unable to write to <path>") when the
// file cannot be saved, a file that exists but cannot be read included, and
// std::invalid_argument for an IP address text with a line break; the file
// then keeps its earlier content.
bool SaveConnection(TData *D);
bool SaveConnection(TData *D, const std::filesystem::path &file);
bool SaveConnection(TData *D, const SettingsFiles &files);

// The connection as a person reads it, on a page or a line: the
// interface's name and its port, base or converter ("LAN konvertor
// LX-1417, 127.0.0.1:5000", "Standardní COMx, COM1"); empty past ifLan.
std::string InterfaceText(const TData &D);

// Text held in a data array, ending at the first 0 from element 1 on.
void DataArrayToStr(TDataArray A, std::string &S);

// Puts at most 99 characters of S into elements 1..99; always returns 0.
int StrToDataArray(const std::string &S, TDataArray &A);
