#include "CmdProfile.h"

#include "CliPlatform.h"
#include "CmdConfig.h"
#include "ConfigProfile.h"
#include "ConfigText.h"
#include "Platform.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cli
{

namespace
{

// The whole file, checked before anything is sent: a fault in it is a
// usage error, with its line.
TConfigProfile LoadProfile(const TSession &s)
{
    const TCommandLine &cl = s.Line();
    const std::string subject =
        "config " + cl.Command->get_name() + ": soubor " + Quoted(cl.ProfilePath);
    TProfileLoad load;
    if (cl.ProfilePath == "-") {
        // Capped as a file is: /dev/zero on stdin must not fill the memory.
        std::string text;
        char buffer[4096];
        for (std::size_t n; text.size() <= platform::MaxSettingsFileSize &&
                            (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
            text.append(buffer, n);
        if (Interrupted())
            throw TInterruptedError("přerušeno (Ctrl+C) při čtení profilu ze stdin.");
        if (text.size() > platform::MaxSettingsFileSize || std::ferror(stdin) != 0)
            load.Error = ProfileUnreadableText;
        else
            load = LoadProfileText(text);
    } else {
        load = ReadProfileFile(cl.ProfilePath);
    }
    if (!load.Profile)
        Usage(subject + load.Error);
    return std::move(*load.Profile);
}

const char *ModuleOutcomeKey(TOutcome outcome)
{
    switch (outcome) {
    case TOutcome::Done:
        return "done";
    case TOutcome::Mismatch:
        return "mismatch";
    case TOutcome::Stopped:
        return "interrupted";
    case TOutcome::DriverError:
        break;
    }
    return "driver_error";
}

} // namespace

int CmdConfigSave(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const bool toStdout = cl.ProfilePath == "-";
    if (toStdout && cl.Json)
        Usage("config save -: soubor jde na stdout, --json tam mít místo nemá.");
    if (!s.Connect())
        return ExitModule;
    TConfigProfile profile;
    profile.Module = s.Data.ModuleName;
    const std::vector<TRegisterStep> all = AllRegisters();
    const TModuleResult read = ReadRegisters(s.Link(), all, profile.Config, s.Reporter(true));
    if (!read.Ok())
        return s.Failed(read, " Soubor nebyl zapsán.");
    if (profile.Config.BaudCode >= BaudCodeCount) {
        s.Err(UnknownBaudCodeText(profile.Config.BaudCode) +
              " Nastavte rychlost: korvalctl config set baud=RYCHLOST.");
        return ExitModule;
    }
    if (toStdout) {
        s.Out(FormatProfile(profile));
        return ExitOk;
    }
    if (!WriteProfileFile(cl.ProfilePath, profile)) {
        s.Err(ProfileWriteFailedText(cl.ProfilePath));
        return ExitModule;
    }
    if (cl.Json) {
        Json j;
        j["file"] = cl.ProfilePath;
        j["module"] = profile.Module;
        j["address"] = profile.Config.Address;
        j["baud_code"] = profile.Config.BaudCode;
        s.Print(j);
    } else {
        s.Out(ProfileSavedText(cl.ProfilePath, profile));
    }
    return ExitOk;
}

int CmdConfigDiff(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const TConfigProfile file = LoadProfile(s);
    if (!s.Connect())
        return ExitModule;
    TModuleConfig module{};
    const std::vector<TRegisterStep> all = AllRegisters();
    const TModuleResult read = ReadRegisters(s.Link(), all, module, s.Reporter(true));
    if (!read.Ok())
        return s.Failed(read);
    // What a restore with the same --with-address would write.
    const TConfigDifference d = DiffProfile(module, file.Config, cl.WithAddress);
    const std::size_t compared = RestoredRegisters(cl.WithAddress).size();
    const std::string &name = s.Data.ModuleName;
    if (cl.Json) {
        auto registersJson = [](const std::vector<TRegisterDifference> &list) {
            Json registers = Json::array();
            for (const TRegisterDifference &r : list) {
                Json one = RegisterJson(r.Register);
                one["module"] = r.Left;
                one["file"] = r.Right;
                registers.push_back(one);
            }
            return registers;
        };
        Json j;
        j["equal"] = d.Equal();
        j["module"] = {{"module", name}, {"file", file.Module}};
        j["with_address"] = cl.WithAddress;
        j["registers_compared"] = compared;
        Json channels = Json::array();
        for (const TChannelDifference &c : d.Channels)
            channels.push_back({{"channel", c.Channel},
                                {"setting", c.Setting->Key},
                                {"module", c.Left},
                                {"file", c.Right}});
        j["channels"] = channels;
        j["registers"] = registersJson(d.Registers);
        j["not_compared"] = registersJson(d.Uncompared);
        s.Print(j);
        return d.Equal() ? ExitOk : ExitMismatch;
    }
    auto registerRows = [](const std::vector<TRegisterDifference> &list) {
        std::string rows = RegisterTableHeader("Modul", "Soubor");
        for (const TRegisterDifference &r : list)
            rows += RegisterTableRow(r.Register, r.Left, r.Right);
        return rows;
    };
    std::string text = "Modul: " + name + "; v souboru: " + file.Module +
                       (name == file.Module ? "\n" : " (jen pro informaci)\n");
    if (!d.Channels.empty()) {
        text += "\n" + ChannelDifferenceHeader();
        for (const TChannelDifference &c : d.Channels)
            text += ChannelDifferenceRow(c);
    }
    if (!d.Equal())
        text += "\n" + registerRows(d.Registers);
    if (!d.Uncompared.empty())
        text += "\nJen pro informaci (neporovnává se, jako je config restore nezapíše; "
                "porovná je --with-address):\n" +
                registerRows(d.Uncompared);
    if (!d.Channels.empty() || !d.Equal() || !d.Uncompared.empty())
        text += "\n";
    text += ProfileDiffSummary(d, compared, cl.ProfilePath);
    s.Out(text);
    return d.Equal() ? ExitOk : ExitMismatch;
}

int CmdConfigRestore(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const TConfigProfile file = LoadProfile(s);
    const std::vector<TRegisterStep> registers = RestoredRegisters(cl.WithAddress);
    if (!s.Connect())
        return ExitModule;
    // Only a dry run reads: a restore writes every register regardless.
    TModuleConfig module{};
    if (cl.DryRun) {
        const TModuleResult read = ReadRegisters(s.Link(), registers, module, s.Reporter(true));
        if (!read.Ok())
            return s.Failed(read, " Nic nebylo zapsáno.");
    } else {
        const TModuleResult written =
            WriteRegisters(s.Link(), registers, file.Config, s.Reporter(true, true));
        if (!written.Ok())
            return s.Failed(written, WrittenText(registers, written, s.Last));
    }
    const TConfigDifference d = DiffConfigs(module, file.Config, registers);
    auto differs = [&](const TRegisterStep &r) {
        return std::any_of(d.Registers.begin(), d.Registers.end(),
                           [&](const TRegisterDifference &x) { return x.Register.Byte == r.Byte; });
    };
    if (cl.Json) {
        Json j;
        j["dry_run"] = cl.DryRun;
        j["file"] = cl.ProfilePath;
        j["module"] = s.Data.ModuleName;
        Json list = Json::array();
        for (const TRegisterStep &r : registers) {
            Json one = RegisterJson(r);
            one["value"] = ConfigByte(file.Config, r.Byte);
            if (cl.DryRun) {
                one["module"] = ConfigByte(module, r.Byte);
                one["differs"] = differs(r);
            }
            list.push_back(one);
        }
        j["registers"] = list;
        j["restart_required"] = cl.WithAddress;
        s.Print(j);
        return ExitOk;
    }
    std::string text;
    if (cl.DryRun) {
        text = "Zapsalo by se (--dry-run: nic nebylo zapsáno); liší se " +
               std::to_string(d.Registers.size()) + " z " + std::to_string(registers.size()) +
               " registrů (*):\n" + RegisterTableHeader("Modul", "Soubor", true);
        for (const TRegisterStep &r : registers)
            text += RegisterTableRow(r, ConfigByte(module, r.Byte), ConfigByte(file.Config, r.Byte),
                                     differs(r) ? '*' : ' ');
    } else {
        text = RestoredText(registers.size(), cl.ProfilePath);
    }
    if (cl.WithAddress)
        text += RestartText(file.Config);
    s.Out(text);
    return ExitOk;
}

// The profile's channel registers to each address in turn over one open
// bus; a module that fails does not stop the next one, Ctrl+C does.
int CmdConfigClone(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const TConfigProfile file = LoadProfile(s);
    const std::vector<uint8_t> addresses = AddressList("--to", cl.CloneTo);
    const std::span<const TRegisterStep> registers = ChannelRegisters();
    if (!s.OpenBus())
        return ExitModule;
    struct TRow {
        uint8_t Address = 0;
        TModuleResult Result{};
        bool Attempted = false;
        std::string Module, Error;
    };
    std::vector<TRow> rows;
    for (uint8_t address : addresses) {
        TRow row;
        row.Address = address;
        if (!Interrupted()) {
            s.Data.Address = address;
            row.Attempted = true;
            row.Result = ReadIdentity(s.Link(), row.Module, s.Reporter(false));
            if (row.Result.Ok() && Interrupted())
                row.Result.Outcome = TOutcome::Stopped;
            else if (row.Result.Ok())
                row.Result =
                    WriteRegisters(s.Link(), registers, file.Config, s.Reporter(true, true));
        }
        row.Error = CloneErrorText(registers, row.Result, row.Attempted, s.Last,
                                   row.Attempted && row.Result.Outcome == TOutcome::DriverError
                                       ? s.StatusText(row.Result.Status)
                                       : std::string(),
                                   "přerušeno (Ctrl+C)");
        if (!row.Attempted)
            row.Result.Outcome = TOutcome::Stopped;
        rows.push_back(std::move(row));
    }

    std::size_t done = 0, mismatches = 0, stopped = 0;
    for (const TRow &row : rows) {
        done += row.Result.Outcome == TOutcome::Done;
        mismatches += row.Result.Outcome == TOutcome::Mismatch;
        stopped += row.Result.Outcome == TOutcome::Stopped;
    }
    int exit = ExitOk;
    if (stopped != 0)
        exit = ExitInterrupted;
    else if (done + mismatches == rows.size() && mismatches != 0)
        exit = ExitMismatch;
    else if (done != rows.size())
        exit = ExitModule;

    if (cl.Json) {
        Json j;
        j["file"] = cl.ProfilePath;
        Json list = Json::array();
        for (const TRow &row : rows) {
            Json one;
            one["address"] = row.Address;
            one["outcome"] = ModuleOutcomeKey(row.Result.Outcome);
            one["module"] = row.Module.empty() ? Json(nullptr) : Json(row.Module);
            one["register"] = row.Result.Register != 0 ? Json(row.Result.Register) : Json(nullptr);
            one["error"] = row.Error.empty() ? Json(nullptr) : Json(row.Error);
            list.push_back(one);
        }
        j["modules"] = list;
        j["done"] = done;
        j["failed"] = rows.size() - done;
        s.Print(j);
    } else {
        std::string text;
        for (const TRow &row : rows) {
            char head[32];
            std::snprintf(head, sizeof head, "adresa %3u  ", unsigned(row.Address));
            text += head + (row.Error.empty() ? CloneDoneText(row.Module) : row.Error) + "\n";
        }
        s.Out(text);
    }
    s.Err("hotovo " + std::to_string(done) + " z " + std::to_string(rows.size()) + " modulů.");
    return exit;
}

} // namespace cli
