// A module's configuration in words, as korvalctl's tables print it and a
// window shows it: the channel settings, a register and its value, and the
// rows of two configurations side by side (config diff, config restore
// --dry-run, config set).
#pragma once

#include "ConfigProfile.h"
#include "Dekl.h"
#include "Module.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The channel settings in the order of the configuration image.
struct TChannelSetting {
    const char *Key;  // as config set and the JSON name it
    const char *Text; // Czech, as a table names it
    std::size_t Byte; // first of its four configuration bytes
};
extern const std::array<TChannelSetting, 3> ChannelSettings;

// The four bytes of a setting, channel n as bit n.
uint32_t SettingWord(const TModuleConfig &c, const TChannelSetting &s);

// A configuration register as the tables name it ("Negace DIN 8-15",
// "adresa"), and a value of it ("127 (01111111)", "4 (9600 Bd)").
std::string RegisterText(const TRegisterStep &r);
std::string RegisterValueText(const TRegisterStep &r, uint8_t value);

// A table of registers with two values each (module and file, before and
// after): number, setting, the left value, the right one. `marks` leaves a
// column after the number for a mark.
std::string RegisterTableHeader(std::string_view left, std::string_view right,
                                bool marks = false);
std::string RegisterTableRow(const TRegisterStep &r, uint8_t left, uint8_t right);
// In a table with marks: `mark` ('*', or ' ' for none) after the number.
std::string RegisterTableRow(const TRegisterStep &r, uint8_t left, uint8_t right, char mark);

// A table of the channel settings that differ: channel, setting, the
// module's bit, the file's.
std::string ChannelDifferenceHeader();
std::string ChannelDifferenceRow(const TChannelDifference &c);

// The last line of a comparison of `compared` registers with the profile
// `file`: "Modul se shoduje se souborem F (12 registrů)." or "Liší se 3 z
// 12 registrů.", with its newline.
std::string ProfileDiffSummary(const TConfigDifference &d, std::size_t compared,
                               std::string_view file);

// "krok 3/14 (čtení registru 33 …)": where an operation was at `step`.
std::string StepText(const TModuleStep &step);

// Which of `registers` a write that ended with `result` after step `last`
// left written and checked (a write and its read-back a register), as a
// sentence for the error message: " Zapsány a ověřeny registry: 32, 35."
std::string WrittenText(std::span<const TRegisterStep> registers, const TModuleResult &result,
                        const TModuleStep &last);

// Why a clone of `registers` to one module did not end done, empty when it
// did: `attempted` false for a module never reached (stopped before it),
// `last` the module's last step, `status` the driver's text of
// result.Status, `stopped` what stopped the run ("přerušeno (Ctrl+C)").
std::string CloneErrorText(std::span<const TRegisterStep> registers, const TModuleResult &result,
                           bool attempted, const TModuleStep &last, std::string_view status,
                           std::string_view stopped);
// A module the clone wrote: "hotovo (DIO-3232 v.1.07)".
std::string CloneDoneText(std::string_view module);

// The ends of a save and of a restore, for a person.
// "Uloženo do F: DIO-3232 v.1.07, adresa 3, 9600 Bd.\n"
std::string ProfileSavedText(std::string_view file, const TConfigProfile &profile);
// "modul hlásí neznámý kód rychlosti 9 (platné 0..8); profil nebyl uložen."
std::string UnknownBaudCodeText(uint8_t code);
// "soubor „F“ se nepodařilo zapsat (práva, místo na disku?)."
std::string ProfileWriteFailedText(std::string_view file);
// "Zapsáno a ověřeno zpětným čtením: 12 registrů ze souboru F.\n"
std::string RestoredText(std::size_t registers, std::string_view file);
// A restore with the address and rate: "Adresa 5 a rychlost 9600 Bd platí
// až po restartu modulu.\n"
std::string RestartText(const TModuleConfig &file);
