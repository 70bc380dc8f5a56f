// A module's configuration as a text file a person can read and a tool can
// apply to other modules: "korval-profile 1", the module it came from, the
// address, the baud code and a line per channel (docs/profile-format.md).
// Parsing is strict, so a file that is not exactly understood is refused
// before anything reaches a module.
#pragma once

#include "Dekl.h"
#include "Module.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char *ProfileMagic = "korval-profile";
inline constexpr int ProfileVersion = 1;

struct TConfigProfile {
    // The identity the file was saved from ("XXXXXXXX v.YYYY"); for the
    // reader only, never compared with a module's.
    std::string Module;
    TModuleConfig Config{};
};

// A channel setting of the profile, its key and its four configuration
// bytes (channel n is bit n % 8 of byte Byte + n / 8).
struct TProfileSetting {
    const char *Key;  // "din-negation", as config set names it
    const char *Text; // Czech
    std::size_t Byte;
};
std::span<const TProfileSetting> ProfileSettings();

// The file's text; every line ends in '\n'. A baud code without a rate
// (9..255) is written without the rate and is refused by ParseProfile.
std::string FormatProfile(const TConfigProfile &profile);

struct TProfileParse {
    std::optional<TConfigProfile> Profile; // set when the text is a profile
    std::size_t Line = 0;                  // 1-based line of the fault
    std::string Message;                   // Czech, without the line
    // "řádek 7: ..." for an error, empty for a profile.
    std::string ErrorText() const;
};

// The whole text of a file; CRLF line ends are taken as LF.
TProfileParse ParseProfile(std::string_view text);

// A profile file read whole and parsed, or why not. Error follows
// "soubor „NAME“" in a message: " neexistuje.", ProfileUnreadableText or
// ", řádek 7: …".
struct TProfileLoad {
    std::optional<TConfigProfile> Profile;
    std::string Error;
};
inline constexpr const char *ProfileUnreadableText =
    " nelze přečíst (není to čitelný soubor do 1 MiB).";
// Reads no more than platform::MaxSettingsFileSize and never blocks on a
// FIFO or device.
TProfileLoad ReadProfileFile(const std::filesystem::path &path);
// `text` as the content of a file.
TProfileLoad LoadProfileText(std::string_view text);

// FormatProfile(profile) into `path` by platform::UpdateFile: a reader
// finds the old file or the new one, never half a profile. False when the
// file cannot be written (it is then as it was).
bool WriteProfileFile(const std::filesystem::path &path, const TConfigProfile &profile);

// One channel setting that differs, for a person.
struct TChannelDifference {
    uint8_t Channel;
    const TProfileSetting *Setting;
    uint8_t Left, Right; // 0 or 1
};

// One register that differs.
struct TRegisterDifference {
    TRegisterStep Register;
    uint8_t Left, Right;
};

struct TConfigDifference {
    // Channel 0..31, within a channel in the order of ProfileSettings();
    // the address and the baud code are no channel setting.
    std::vector<TChannelDifference> Channels;
    // In the order of `registers`.
    std::vector<TRegisterDifference> Registers;
    // DiffProfile: the address and baud code registers that differ but
    // were not compared, for a person to see; they never make a difference.
    std::vector<TRegisterDifference> Uncompared;
    bool Equal() const { return Registers.empty(); }
};

// What differs between `left` and `right` in `registers`.
TConfigDifference DiffConfigs(const TModuleConfig &left, const TModuleConfig &right,
                              std::span<const TRegisterStep> registers);

// The registers a restore writes, in the module's order: the 12 channel
// registers, after the address and the baud code when `withAddress`.
std::vector<TRegisterStep> RestoredRegisters(bool withAddress);

// A module against a profile over exactly what a restore with the same
// `withAddress` would write, so that a diff after a restore is equal;
// without it the address and baud code go to Uncompared.
TConfigDifference DiffProfile(const TModuleConfig &module, const TModuleConfig &file,
                              bool withAddress);
