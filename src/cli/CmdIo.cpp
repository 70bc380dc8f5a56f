#include "CmdIo.h"

#include "CliPlatform.h"
#include "Platform.h"
#include "Text.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace cli
{

namespace
{

// The status register's named bits, as the status window labels them.
const char *StatusBitName(int bit)
{
    switch (bit) {
    case 1:
        return "FN";
    case 2:
        return "PRF";
    case 4:
        return "PWR";
    case 5:
        return "RST";
    case 6:
        return "ERR24";
    default:
        return "---";
    }
}

Json ChannelsJson(uint32_t word)
{
    Json list = Json::array();
    for (int ch = 0; ch < 32; ++ch)
        list.push_back((word >> ch) & 1u);
    return list;
}

// As the hex word beside it reads: DIN31 on the left, DIN0 on the right, a
// blank between the bytes.
std::string BitsText(uint32_t word)
{
    std::string text;
    for (int ch = 31; ch >= 0; --ch) {
        text += (word >> ch) & 1u ? '1' : '0';
        if (ch != 0 && ch % 8 == 0)
            text += ' ';
    }
    return text;
}

std::string ChannelTable(const char *prefix, uint32_t word)
{
    std::string text;
    for (int group = 0; group < 4; ++group) {
        const std::string label =
            prefix + std::to_string(8 * group) + "-" + std::to_string(8 * group + 7);
        text += Pad(label, 11);
        for (int ch = 8 * group; ch < 8 * group + 8; ++ch)
            text += (word >> ch) & 1u ? " 1" : " 0";
        text += "\n";
    }
    return text;
}

// Wall-clock time of a watch line: local time for a person, UTC in JSON.
std::string Clock(bool utc)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm parts{};
    if (utc)
        platform::UtcTime(seconds, parts);
    else
        platform::LocalTime(seconds, parts);
    char text[40];
    const std::size_t n =
        std::strftime(text, sizeof text, utc ? "%Y-%m-%dT%H:%M:%S" : "%H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%03d%s", int(ms.count()), utc ? "Z" : "");
    return text;
}

} // namespace

int CmdInputs(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const uint32_t interval =
        s.CommandGiven("--interval") ? Number("--interval", cl.Interval, 10, 60000) : 200;
    if (!s.Connect())
        return ExitModule;
    uint32_t word = 0;
    if (!cl.Watch) {
        const TModuleResult result = ReadInputs(s.Link(), word, s.Reporter(false));
        if (!result.Ok())
            return s.Failed(result);
        if (cl.Json) {
            Json j;
            j["inputs"] = word;
            j["channels"] = ChannelsJson(word);
            s.Print(j);
        } else {
            s.Out(Pad("DIN0-31", 11) + HexText(word) + "\n" + ChannelTable("DIN", word));
        }
        return ExitOk;
    }
    // A line for the first reading and for each change; a failed reading
    // is reported once per status code and the watch goes on, as the
    // input window does.
    std::optional<uint32_t> shown;
    uint8_t lastStatus = 0;
    while (!Interrupted()) {
        // A reading every interval, start to start, whatever the exchange takes.
        const auto started = s.Now();
        const TModuleResult result = ReadInputs(s.Link(), word, s.Reporter(false));
        if (result.Ok()) {
            if (!shown || *shown != word) {
                if (cl.Json) {
                    Json j;
                    j["time"] = Clock(true);
                    j["inputs"] = word;
                    j["channels"] = ChannelsJson(word);
                    s.PrintLine(j);
                } else {
                    s.Out(Clock(false) + "  " + HexText(word) + "  " + BitsText(word) + "\n");
                }
                shown = word;
            }
            lastStatus = 0;
        } else if (result.Status != lastStatus) {
            s.Failed(result);
            lastStatus = result.Status;
            shown.reset();
        }
        if (s.OutBroken())
            break;
        s.FlushTrace();
        if (!s.PauseUntil(started + std::chrono::milliseconds(interval)))
            break;
    }
    return ExitOk;
}

int CmdOutputs(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const uint32_t word = OutputsValue(cl.OutputsText);
    if (!cl.DryRun) {
        if (!s.Connect())
            return ExitModule;
        const TModuleResult result = WriteOutputs(s.Link(), word, s.Reporter(false));
        if (!result.Ok())
            return s.Failed(result);
    }
    if (cl.Json) {
        Json j;
        j["dry_run"] = cl.DryRun;
        j["outputs"] = word;
        j["channels"] = ChannelsJson(word);
        s.Print(j);
    } else {
        s.Out(std::string(cl.DryRun ? "Zapsalo by se (--dry-run: nic nebylo odesláno):\n"
                                    : "Zapsáno:\n") +
              Pad("DOUT0-31", 11) + HexText(word) + "\n" + ChannelTable("DOUT", word));
    }
    return ExitOk;
}

// The output window's walking one: DOUT0 alone, then DOUT1 alone, ...,
// DOUT31, and again from DOUT0. A failed step does not hold the walk up.
// Whatever ends it, the outputs are then all switched off.
int CmdWalk(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const uint32_t interval =
        s.CommandGiven("--interval") ? Number("--interval", cl.Interval, 10, 60000) : 500;
    // 0: until Ctrl+C.
    const uint32_t count =
        s.CommandGiven("--count") ? Number("--count", cl.Count, 1, 1000000000) : 0;
    if (!s.Connect())
        return ExitModule;
    uint32_t pattern = 1;
    uint32_t done = 0;
    bool failed = false;
    while (!Interrupted() && (count == 0 || done < count)) {
        // The interval is the step's period, start to start, as a technician
        // times it; a step slower than that is followed at once.
        const auto started = s.Now();
        const uint32_t word = pattern;
        pattern = pattern << 1 != 0 ? pattern << 1 : 1;
        const TModuleResult result = WriteOutputs(s.Link(), word, s.Reporter(false));
        ++done;
        int channel = 0;
        while ((word >> channel) != 1u)
            ++channel;
        if (!result.Ok()) {
            failed = true;
            s.Failed(result);
        }
        if (cl.Json) {
            Json j;
            j["step"] = done;
            j["channel"] = channel;
            j["outputs"] = word;
            j["ok"] = result.Ok();
            s.PrintLine(j);
        } else {
            char line[64];
            std::snprintf(line, sizeof line, "%6u  DOUT%-2d  %s%s\n", done, channel,
                          HexText(word).c_str(), result.Ok() ? "" : "  chyba");
            s.Out(line);
        }
        if (s.OutBroken())
            break;
        s.FlushTrace();
        // The last step too lasts its period before the outputs go off.
        if (!s.PauseUntil(started + std::chrono::milliseconds(interval)))
            break;
    }
    const TModuleResult off = WriteOutputs(s.Link(), 0, s.Reporter(false));
    if (!off.Ok())
        return s.Failed(off, " Výstupy nemusí být vypnuté.");
    s.Err("běžící 1 skončila po " + std::to_string(done) + (done == 1 ? " kroku" : " krocích") +
          "; všechny výstupy vypnuty.");
    if (count != 0 && done < count)
        return ExitInterrupted;
    return failed ? ExitModule : ExitOk;
}

int CmdStatus(TSession &s)
{
    const TCommandLine &cl = s.Line();
    if (!s.Connect())
        return ExitModule;
    uint32_t word = 0;
    TModuleResult result = ReadStatus(s.Link(), word, s.Reporter(false));
    if (!result.Ok())
        return s.Failed(result);
    uint32_t after = 0;
    if (cl.Clear) {
        result = ClearStatus(s.Link(), s.Reporter(false));
        if (!result.Ok())
            return s.Failed(result, " Status registr nebyl vynulován.");
        result = ReadStatus(s.Link(), after, s.Reporter(false));
        if (!result.Ok())
            return s.Failed(result, " Status registr byl vynulován.");
    }
    if (cl.Json) {
        Json j;
        j["status"] = word;
        j["bits"] = ChannelsJson(word);
        Json flags;
        for (int bit = 0; bit < 8; ++bit) {
            if (std::string_view(StatusBitName(bit)) != "---")
                flags[StatusBitName(bit)] = (word >> bit) & 1u;
        }
        j["flags"] = flags;
        j["cleared"] = cl.Clear;
        if (cl.Clear)
            j["status_after_clear"] = after;
        s.Print(j);
        return ExitOk;
    }
    std::string text = Pad("Status registr", 16) + HexText(word) + "\n";
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 4; ++column) {
            const int bit = 8 * column + row;
            char cell[32];
            std::snprintf(cell, sizeof cell, "%s%2d %-6s %u", column == 0 ? "" : "    ", bit,
                          StatusBitName(bit), (word >> bit) & 1u);
            text += cell;
        }
        text += "\n";
    }
    if (cl.Clear)
        text += "Vynulováno; po vynulování " + HexText(after) + "\n";
    s.Out(text);
    return ExitOk;
}

} // namespace cli
