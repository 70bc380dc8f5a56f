#include "ConfigProfile.h"

#include "Platform.h"
#include "Text.h"

#include <cstdio>

namespace
{

const std::array<TProfileSetting, 3> Settings = {{
    {"din-negation", "negace DIN", offsetof(TModuleConfig, DinNegation)},
    {"dout-negation", "negace DOUT", offsetof(TModuleConfig, DoutNegation)},
    {"dout-init", "počáteční stav DOUT", offsetof(TModuleConfig, DoutInitState)},
}};

uint8_t ChannelBit(const TModuleConfig &c, const TProfileSetting &s, unsigned channel)
{
    return (ConfigByte(c, s.Byte + channel / 8) >> (channel % 8)) & 1u;
}

std::string RateNote(uint8_t code)
{
    // Appended piece by piece: "(" + to_string(...) draws a false -Wrestrict
    // from g++ 12 at -O3.
    std::string note = "(";
    note += std::to_string(BaudCodeToRate(code));
    note += " Bd)";
    return note;
}

// The lines of the file after the first, one call each.
class TParser
{
  public:
    // Empty when the line is good.
    std::string Line(std::size_t number, std::string_view line);
    // The fields no line gave: empty when there are none.
    std::string Missing() const;

    TConfigProfile profile;

  private:
    std::string Channel(std::size_t number, std::string_view head, std::string_view rest);

    std::size_t moduleLine_ = 0, addressLine_ = 0, baudLine_ = 0;
    std::array<std::size_t, 32> channelLine_{};
};

std::string TParser::Line(std::size_t number, std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return "řádek není komentář (#) ani tvaru „klíč: hodnota“: " + Quoted(line) + ".";
    const std::string_view key = TrimBlanks(line.substr(0, colon));
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    auto once = [&](std::size_t &seen) -> std::string {
        if (seen != 0)
            return "klíč " + Quoted(key) + " je podruhé (poprvé na řádku " + std::to_string(seen) +
                   ").";
        seen = number;
        return {};
    };
    if (key == "module") {
        profile.Module = std::string(value);
        return once(moduleLine_);
    }
    if (key == "address") {
        const std::optional<uint64_t> address = DecimalDigits(value, 3);
        if (!address || *address > 255)
            return "address: " + Quoted(value) + " není adresa 0..255.";
        profile.Config.Address = uint8_t(*address);
        return once(addressLine_);
    }
    if (key == "baud-code") {
        const std::size_t blank = value.find_first_of(" \t");
        const std::optional<uint64_t> code = DecimalDigits(value.substr(0, blank), 3);
        if (!code || *code >= BaudCodeCount)
            return "baud-code: " + Quoted(value.substr(0, blank)) + " není kód rychlosti 0..8.";
        // The rate is there for the reader; one that disagrees with the
        // code means the file was edited by half.
        if (blank != std::string_view::npos &&
            TrimBlanks(value.substr(blank)) != RateNote(uint8_t(*code)))
            return "baud-code: za kódem " + std::to_string(*code) + " smí být jen " +
                   Quoted(RateNote(uint8_t(*code))) + ", ne " + Quoted(TrimBlanks(value.substr(blank))) +
                   ".";
        profile.Config.BaudCode = uint8_t(*code);
        return once(baudLine_);
    }
    if (key.substr(0, 8) == "channel " || key.substr(0, 8) == "channel\t")
        return Channel(number, TrimBlanks(key.substr(8)), value);
    return "neznámý klíč " + Quoted(key) + " (známé: module, address, baud-code, channel N).";
}

std::string TParser::Channel(std::size_t number, std::string_view head, std::string_view rest)
{
    const std::optional<uint64_t> channel = DecimalDigits(head, 3);
    if (!channel || *channel > 31)
        return "channel: " + Quoted(head) + " není kanál 0..31.";
    if (channelLine_[*channel] != 0)
        return "kanál " + std::to_string(*channel) + " je podruhé (poprvé na řádku " +
               std::to_string(channelLine_[*channel]) + ").";
    std::array<bool, Settings.size()> given{};
    while (!(rest = TrimBlanks(rest)).empty()) {
        const std::string_view item = rest.substr(0, rest.find_first_of(" \t"));
        rest.remove_prefix(item.size());
        const std::size_t eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        std::size_t s = 0;
        while (s < Settings.size() && key != Settings[s].Key)
            ++s;
        if (eq == std::string_view::npos || s == Settings.size())
            return "kanál " + std::to_string(*channel) + ": " + Quoted(item) +
                   " není din-negation=0|1, dout-negation=0|1 ani dout-init=0|1.";
        const std::string_view value = item.substr(eq + 1);
        if (value != "0" && value != "1")
            return "kanál " + std::to_string(*channel) + ": " + std::string(key) + "=" +
                   Quoted(value) + " není 0 ani 1.";
        if (given[s])
            return "kanál " + std::to_string(*channel) + ": " + std::string(key) +
                   " je na řádku podruhé.";
        given[s] = true;
        uint8_t &byte = ConfigByte(profile.Config, Settings[s].Byte + *channel / 8);
        const uint8_t mask = uint8_t(1u << (*channel % 8));
        byte = uint8_t(value == "1" ? byte | mask : byte & ~mask);
    }
    for (std::size_t s = 0; s < Settings.size(); ++s) {
        if (!given[s])
            return "kanál " + std::to_string(*channel) + ": chybí " + Settings[s].Key + ".";
    }
    channelLine_[*channel] = number;
    return {};
}

std::string TParser::Missing() const
{
    std::string fields;
    if (addressLine_ == 0)
        fields = "address";
    if (baudLine_ == 0)
        fields += (fields.empty() ? "" : ", ") + std::string("baud-code");
    std::string channels;
    std::size_t count = 0;
    for (std::size_t ch = 0; ch < channelLine_.size(); ++ch) {
        if (channelLine_[ch] == 0) {
            channels += (channels.empty() ? "" : ", ") + std::to_string(ch);
            ++count;
        }
    }
    if (!channels.empty())
        fields += (fields.empty() ? "" : ", ") + std::string(count == 1 ? "kanál " : "kanály ") +
                  channels;
    return fields;
}

} // namespace

std::span<const TProfileSetting> ProfileSettings()
{
    return Settings;
}

std::string FormatProfile(const TConfigProfile &profile)
{
    const TModuleConfig &c = profile.Config;
    std::string text = std::string(ProfileMagic) + " " + std::to_string(ProfileVersion) + "\n";
    text += "# Konfigurace modulu (korvalctl config save). Modul je jen pro informaci;\n"
            "# 1 u negace a počátečního stavu znamená zapnuto.\n";
    text += "module: " + profile.Module + "\n";
    text += "address: " + std::to_string(c.Address) + "\n";
    text += "baud-code: " + std::to_string(c.BaudCode);
    if (c.BaudCode < BaudCodeCount)
        text += " " + RateNote(c.BaudCode);
    text += "\n";
    for (unsigned ch = 0; ch < 32; ++ch) {
        text += "channel " + std::to_string(ch) + ":";
        for (const TProfileSetting &s : Settings)
            text += std::string(" ") + s.Key + "=" + char('0' + ChannelBit(c, s, ch));
        text += "\n";
    }
    return text;
}

std::string TProfileParse::ErrorText() const
{
    if (Profile)
        return {};
    return "řádek " + std::to_string(Line) + ": " + Message;
}

TProfileParse ParseProfile(std::string_view text)
{
    TProfileParse result;
    TParser parser;
    const std::string header = std::string(ProfileMagic) + " ";
    std::size_t number = 0;
    while (!text.empty() || number == 0) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ++number;
        result.Line = number;
        if (number == 1) {
            const std::string_view first = TrimBlanks(line);
            if (first.substr(0, header.size()) != header) {
                result.Message = "soubor není profil konfigurace: první řádek musí být „" + header +
                                 std::to_string(ProfileVersion) + "“.";
                return result;
            }
            if (TrimBlanks(first.substr(header.size())) != std::to_string(ProfileVersion)) {
                result.Message = "verze profilu " + Quoted(TrimBlanks(first.substr(header.size()))) +
                                 " není podporovaná; tento korvalctl čte verzi " +
                                 std::to_string(ProfileVersion) + ".";
                return result;
            }
            continue;
        }
        line = TrimBlanks(line);
        if (line.empty() || line.front() == '#')
            continue;
        result.Message = parser.Line(number, line);
        if (!result.Message.empty())
            return result;
    }
    const std::string missing = parser.Missing();
    if (!missing.empty()) {
        result.Message = "soubor končí a chybí v něm: " + missing + ".";
        return result;
    }
    result.Line = 0;
    result.Profile = std::move(parser.profile);
    return result;
}

TConfigDifference DiffConfigs(const TModuleConfig &left, const TModuleConfig &right,
                              std::span<const TRegisterStep> registers)
{
    TConfigDifference d;
    for (const TRegisterStep &r : registers) {
        if (ConfigByte(left, r.Byte) != ConfigByte(right, r.Byte))
            d.Registers.push_back({r, ConfigByte(left, r.Byte), ConfigByte(right, r.Byte)});
    }
    for (unsigned ch = 0; ch < 32; ++ch) {
        for (const TProfileSetting &s : Settings) {
            const std::size_t byte = s.Byte + ch / 8;
            bool listed = false;
            for (const TRegisterStep &r : registers)
                listed = listed || r.Byte == byte;
            if (listed && ChannelBit(left, s, ch) != ChannelBit(right, s, ch))
                d.Channels.push_back(
                    {uint8_t(ch), &s, ChannelBit(left, s, ch), ChannelBit(right, s, ch)});
        }
    }
    return d;
}

std::vector<TRegisterStep> RestoredRegisters(bool withAddress)
{
    std::vector<TRegisterStep> registers;
    if (withAddress)
        registers.assign(AddressRegisters().begin(), AddressRegisters().end());
    registers.insert(registers.end(), ChannelRegisters().begin(), ChannelRegisters().end());
    return registers;
}

TConfigDifference DiffProfile(const TModuleConfig &module, const TModuleConfig &file,
                              bool withAddress)
{
    TConfigDifference d = DiffConfigs(module, file, RestoredRegisters(withAddress));
    if (!withAddress)
        d.Uncompared = DiffConfigs(module, file, AddressRegisters()).Registers;
    return d;
}

TProfileLoad LoadProfileText(std::string_view text)
{
    TProfileLoad load;
    TProfileParse parsed = ParseProfile(text);
    if (parsed.Profile)
        load.Profile = std::move(parsed.Profile);
    else
        load.Error = ", " + parsed.ErrorText();
    return load;
}

TProfileLoad ReadProfileFile(const std::filesystem::path &path)
{
    std::string text;
    switch (platform::ReadSettingsFile(path, text)) {
    case platform::ReadResult::Read:
        break;
    case platform::ReadResult::Missing:
        return {std::nullopt, " neexistuje."};
    case platform::ReadResult::Unreadable:
        return {std::nullopt, ProfileUnreadableText};
    }
    return LoadProfileText(text);
}

bool WriteProfileFile(const std::filesystem::path &path, const TConfigProfile &profile)
{
    const std::string text = FormatProfile(profile);
    return platform::UpdateFile(path, [&](const std::string *) {
        return std::optional<std::string>(text);
    });
}
