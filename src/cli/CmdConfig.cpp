#include "CmdConfig.h"

#include "ConfigText.h"
#include "Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <set>

namespace cli
{

std::vector<TRegisterStep> AllRegisters()
{
    std::vector<TRegisterStep> all(AddressRegisters().begin(), AddressRegisters().end());
    all.insert(all.end(), ChannelRegisters().begin(), ChannelRegisters().end());
    return all;
}

Json RegisterJson(const TRegisterStep &r)
{
    Json j;
    j["register"] = r.Register;
    if (r.Byte == offsetof(TModuleConfig, Address)) {
        j["name"] = "address";
    } else if (r.Byte == offsetof(TModuleConfig, BaudCode)) {
        j["name"] = "baud_code";
    } else {
        for (const TChannelSetting &s : ChannelSettings) {
            if (r.Byte >= s.Byte && r.Byte < s.Byte + 4) {
                j["name"] = s.Key;
                j["first_channel"] = 8 * (r.Byte - s.Byte);
            }
        }
    }
    return j;
}

int CmdConfigShow(TSession &s)
{
    if (!s.Connect())
        return ExitModule;
    const std::vector<TRegisterStep> all = AllRegisters();
    TModuleConfig c{};
    const TModuleResult result = ReadRegisters(s.Link(), all, c, s.Reporter(true));
    if (!result.Ok())
        return s.Failed(result);
    const bool knownRate = c.BaudCode < BaudCodeCount;
    if (s.Line().Json) {
        Json j;
        j["address"] = c.Address;
        j["baud_code"] = c.BaudCode;
        j["baud_rate"] = knownRate ? Json(BaudCodeToRate(c.BaudCode)) : Json(nullptr);
        for (const TChannelSetting &setting : ChannelSettings)
            j[setting.Key] = SettingWord(c, setting);
        Json channels = Json::array();
        for (int ch = 0; ch < 32; ++ch) {
            Json one;
            one["channel"] = ch;
            for (const TChannelSetting &setting : ChannelSettings)
                one[setting.Key] = (SettingWord(c, setting) >> ch) & 1u;
            channels.push_back(one);
        }
        j["channels"] = channels;
        s.Print(j);
        return ExitOk;
    }
    std::string text =
        Pad("Adresa", 22) + std::to_string(c.Address) + "\n" + Pad("Rychlost", 22) +
        (knownRate ? std::to_string(BaudCodeToRate(c.BaudCode)) + " Bd" : std::string("neznámá")) +
        " (kód " + std::to_string(c.BaudCode) + ")\n";
    for (const TChannelSetting &setting : ChannelSettings)
        text += Pad(setting.Text, 22) + HexText(SettingWord(c, setting)) + "\n";
    text += "\nKanál  Negace DIN  Negace DOUT  Počáteční stav DOUT\n";
    for (int ch = 0; ch < 32; ++ch) {
        char line[80];
        std::snprintf(line, sizeof line, "%5d  %10u  %11u  %19u\n", ch,
                      (SettingWord(c, ChannelSettings[0]) >> ch) & 1u,
                      (SettingWord(c, ChannelSettings[1]) >> ch) & 1u,
                      (SettingWord(c, ChannelSettings[2]) >> ch) & 1u);
        text += line;
    }
    s.Out(text);
    return ExitOk;
}

int CmdConfigSet(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const std::vector<TChange> changes = ParseChanges(cl.Items);
    std::set<std::size_t> bytes;
    for (const TChange &change : changes)
        bytes.insert(change.Byte);
    // The module's own order: the address before the rate, so a failed
    // address leaves the rate as it was.
    std::vector<TRegisterStep> touched;
    for (const TRegisterStep &r : AllRegisters()) {
        if (bytes.count(r.Byte) != 0)
            touched.push_back(r);
    }
    if (!s.Connect())
        return ExitModule;
    // A bit change keeps the other seven bits of its register as they are.
    TModuleConfig before{};
    const TModuleResult read = ReadRegisters(s.Link(), touched, before, s.Reporter(true));
    if (!read.Ok())
        return s.Failed(read, " Nic nebylo zapsáno.");
    TModuleConfig after = before;
    for (const TChange &change : changes) {
        uint8_t &b = ConfigByte(after, change.Byte);
        b = uint8_t((b & ~change.Mask) | change.Value);
    }
    // A register that already holds its new value is not written.
    std::vector<TRegisterStep> changed;
    for (const TRegisterStep &r : touched) {
        if (ConfigByte(before, r.Byte) != ConfigByte(after, r.Byte))
            changed.push_back(r);
    }
    auto written = [&](const TRegisterStep &r) {
        return std::any_of(changed.begin(), changed.end(),
                           [&](const TRegisterStep &c) { return c.Byte == r.Byte; });
    };

    if (!cl.DryRun) {
        const TModuleResult result =
            WriteRegisters(s.Link(), changed, after, s.Reporter(true, true));
        if (!result.Ok())
            return s.Failed(result, WrittenText(changed, result, s.Last));
    }

    const bool restart = std::any_of(changed.begin(), changed.end(), [](const TRegisterStep &r) {
        return r.Byte == offsetof(TModuleConfig, Address) ||
               r.Byte == offsetof(TModuleConfig, BaudCode);
    });
    if (cl.Json) {
        Json j;
        j["dry_run"] = cl.DryRun;
        Json list = Json::array();
        for (const TRegisterStep &r : touched) {
            Json one = RegisterJson(r);
            one["before"] = ConfigByte(before, r.Byte);
            one["after"] = ConfigByte(after, r.Byte);
            one["written"] = written(r) && !cl.DryRun;
            list.push_back(one);
        }
        j["registers"] = list;
        j["restart_required"] = restart;
        s.Print(j);
        return ExitOk;
    }
    std::string text;
    if (!changed.empty()) {
        text = cl.DryRun ? "Zapsalo by se (--dry-run: nic nebylo zapsáno):\n"
                         : "Zapsáno a ověřeno zpětným čtením:\n";
        text += RegisterTableHeader("Před", "Po");
    }
    std::string unchanged;
    for (const TRegisterStep &r : touched) {
        if (!written(r)) {
            unchanged += (unchanged.empty() ? "" : ", ") + std::to_string(r.Register) + " (" +
                         RegisterText(r) + " = " +
                         RegisterValueText(r, ConfigByte(before, r.Byte)) + ")";
            continue;
        }
        text += RegisterTableRow(r, ConfigByte(before, r.Byte), ConfigByte(after, r.Byte));
    }
    if (!unchanged.empty())
        text += "Beze změny, nezapsáno: registr" +
                std::string(touched.size() - changed.size() > 1 ? "y " : " ") + unchanged + ".\n";
    if (restart)
        text += "Nová adresa a rychlost platí až po restartu modulu; do té doby modul odpovídá "
                "na adrese " +
                std::to_string(s.Data.Address) + " rychlostí " + std::to_string(s.Data.BaudRate) +
                " Bd.\n";
    s.Out(text);
    return ExitOk;
}

} // namespace cli
