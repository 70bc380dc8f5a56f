#include "ConfigText.h"

#include "Text.h"

#include <cstdio>

const std::array<TChannelSetting, 3> ChannelSettings = {{
    {"din-negation", "Negace DIN", offsetof(TModuleConfig, DinNegation)},
    {"dout-negation", "Negace DOUT", offsetof(TModuleConfig, DoutNegation)},
    {"dout-init", "Počáteční stav DOUT", offsetof(TModuleConfig, DoutInitState)},
}};

uint32_t SettingWord(const TModuleConfig &c, const TChannelSetting &s)
{
    uint32_t word = 0;
    for (std::size_t n = 0; n < 4; ++n)
        word |= uint32_t(ConfigByte(c, s.Byte + n)) << (8 * n);
    return word;
}

std::string RegisterText(const TRegisterStep &r)
{
    if (r.Byte == offsetof(TModuleConfig, Address))
        return "adresa";
    if (r.Byte == offsetof(TModuleConfig, BaudCode))
        return "rychlost";
    for (const TChannelSetting &s : ChannelSettings) {
        if (r.Byte >= s.Byte && r.Byte < s.Byte + 4) {
            const std::size_t n = r.Byte - s.Byte;
            return std::string(s.Text) + " " + std::to_string(8 * n) + "-" +
                   std::to_string(8 * n + 7);
        }
    }
    return "?";
}

std::string RegisterValueText(const TRegisterStep &r, uint8_t value)
{
    if (r.Byte == offsetof(TModuleConfig, BaudCode)) {
        if (value < BaudCodeCount)
            return std::to_string(value) + " (" + std::to_string(BaudCodeToRate(value)) + " Bd)";
        return std::to_string(value) + " (neznámý kód)";
    }
    if (r.Byte == offsetof(TModuleConfig, Address))
        return std::to_string(value);
    // Binary as people read it, the most significant bit (the group's
    // highest channel) on the left: 127 is 01111111.
    char bits[9];
    for (int b = 0; b < 8; ++b)
        bits[7 - b] = (value >> b) & 1u ? '1' : '0';
    bits[8] = '\0';
    return std::to_string(value) + " (" + bits + ")";
}

namespace
{

std::string RegisterCells(const TRegisterStep &r, uint8_t left, uint8_t right)
{
    return Pad(RegisterText(r), 26) + Pad(RegisterValueText(r, left), 16) +
           RegisterValueText(r, right) + "\n";
}

} // namespace

std::string RegisterTableHeader(std::string_view left, std::string_view right, bool marks)
{
    return (marks ? "Registr    " : "Registr  ") + Pad("Nastavení", 26) + Pad(left, 16) +
           std::string(right) + "\n";
}

std::string RegisterTableRow(const TRegisterStep &r, uint8_t left, uint8_t right)
{
    char number[16];
    std::snprintf(number, sizeof number, "%7u  ", unsigned(r.Register));
    return number + RegisterCells(r, left, right);
}

std::string RegisterTableRow(const TRegisterStep &r, uint8_t left, uint8_t right, char mark)
{
    char number[16];
    std::snprintf(number, sizeof number, "%7u %c  ", unsigned(r.Register), mark);
    return number + RegisterCells(r, left, right);
}

std::string ChannelDifferenceHeader()
{
    return "Kanál  " + Pad("Nastavení", 21) + "Modul  Soubor\n";
}

std::string ChannelDifferenceRow(const TChannelDifference &c)
{
    char cells[64];
    std::snprintf(cells, sizeof cells, "%5u  ", unsigned(c.Channel));
    return cells + Pad(c.Setting->Text, 21) + Pad(std::to_string(c.Left), 7) +
           std::to_string(c.Right) + "\n";
}

std::string ProfileDiffSummary(const TConfigDifference &d, std::size_t compared,
                               std::string_view file)
{
    if (d.Equal())
        return "Modul se shoduje se souborem " + std::string(file) + " (" +
               std::to_string(compared) + " registrů).\n";
    return "Liší se " + std::to_string(d.Registers.size()) + " z " + std::to_string(compared) +
           " registrů.\n";
}

std::string StepText(const TModuleStep &step)
{
    return "krok " + std::to_string(step.Number) + "/" + std::to_string(step.Total) + " (" +
           step.What + ")";
}

std::string WrittenText(std::span<const TRegisterStep> registers, const TModuleResult &result,
                        const TModuleStep &last)
{
    // A stop comes only after a read-back, a failure at the step itself.
    const std::size_t checked =
        result.Outcome == TOutcome::Stopped ? last.Number / 2 : (last.Number - 1) / 2;
    std::string text;
    for (std::size_t i = 0; i < checked && i < registers.size(); ++i)
        text += (i == 0 ? " Zapsány a ověřeny registry: " : ", ") +
                std::to_string(registers[i].Register);
    return text + (checked == 0 ? " Žádný registr nebyl zapsán a ověřen." : ".");
}

std::string CloneErrorText(std::span<const TRegisterStep> registers, const TModuleResult &result,
                           bool attempted, const TModuleStep &last, std::string_view status,
                           std::string_view stopped)
{
    switch (!attempted ? TOutcome::Stopped : result.Outcome) {
    case TOutcome::Done:
        return {};
    case TOutcome::Mismatch:
        return "zpětné čtení nesouhlasí: " + StepText(last) + "." +
               WrittenText(registers, result, last);
    case TOutcome::Stopped:
        // Stopped between the identity and the first write: Step is 0.
        return attempted && result.Step != 0
                   ? std::string(stopped) + " po " + StepText(last) + "." +
                         WrittenText(registers, result, last)
                   : std::string(stopped) + ", nic nezapsáno.";
    case TOutcome::DriverError:
        break;
    }
    return StepText(last) + " selhal: " + std::string(status) + "." +
           (result.Register != 0 ? WrittenText(registers, result, last)
                                 : std::string(" Nic nezapsáno."));
}

std::string CloneDoneText(std::string_view module)
{
    return "hotovo (" + std::string(module) + ")";
}

std::string ProfileSavedText(std::string_view file, const TConfigProfile &profile)
{
    return "Uloženo do " + std::string(file) + ": " + profile.Module + ", adresa " +
           std::to_string(profile.Config.Address) + ", " +
           std::to_string(BaudCodeToRate(profile.Config.BaudCode)) + " Bd.\n";
}

std::string UnknownBaudCodeText(uint8_t code)
{
    return "modul hlásí neznámý kód rychlosti " + std::to_string(code) +
           " (platné 0..8); profil nebyl uložen.";
}

std::string ProfileWriteFailedText(std::string_view file)
{
    return "soubor " + Quoted(file) + " se nepodařilo zapsat (práva, místo na disku?).";
}

std::string RestoredText(std::size_t registers, std::string_view file)
{
    return "Zapsáno a ověřeno zpětným čtením: " + std::to_string(registers) +
           " registrů ze souboru " + std::string(file) + ".\n";
}

std::string RestartText(const TModuleConfig &file)
{
    return "Adresa " + std::to_string(file.Address) + " a rychlost " +
           std::to_string(BaudCodeToRate(file.BaudCode)) + " Bd platí až po restartu modulu.\n";
}
