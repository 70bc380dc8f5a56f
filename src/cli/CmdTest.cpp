#include "CmdTest.h"

#include "CliPlatform.h"
#include "Platform.h"
#include "Text.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

namespace cli
{

namespace
{

// "pass", "stuck_at_0", "stuck_at_1", "follows", "inconsistent", "untested".
const char *FaultKey(TChannelFault fault)
{
    switch (fault) {
    case TChannelFault::Pass:
        return "pass";
    case TChannelFault::StuckAt0:
        return "stuck_at_0";
    case TChannelFault::StuckAt1:
        return "stuck_at_1";
    case TChannelFault::Follows:
        return "follows";
    case TChannelFault::Inconsistent:
        return "inconsistent";
    case TChannelFault::Untested:
        break;
    }
    return "untested";
}

Json AcceptanceChannelsJson(const TIoTestResult &r)
{
    Json list = Json::array();
    for (const TChannelVerdict &v : r.Channels) {
        Json one;
        one["channel"] = v.Channel;
        one["verdict"] = FaultKey(v.Fault);
        one["pass"] = v.Fault == TChannelFault::Pass;
        one["source"] = v.Source >= 0 ? Json(v.Source) : Json(nullptr);
        one["wrong_steps"] = v.Wrong;
        one["first_wrong_step"] = v.FirstWrong == 0 ? Json(nullptr) : Json(v.FirstWrong);
        one["text"] = SeenText(v, r);
        list.push_back(one);
    }
    return list;
}

} // namespace

// The patterns with the outputs wired back to the inputs; the channels'
// verdicts, the report page. The outputs end off whatever ends the test.
int CmdTest(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const uint32_t interval =
        s.CommandGiven("--interval") ? Number("--interval", cl.Interval, 0, 10000) : 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> page{nullptr, std::fclose};
    if (s.CommandGiven("--report")) {
        page.reset(std::fopen(cl.ReportPath.c_str(), "w"));
        if (!page)
            Usage("--report: soubor " + Quoted(cl.ReportPath) + " nelze otevřít pro zápis.");
    }
    const std::string day = ReportDateText(std::time(nullptr));
    if (!s.Connect())
        return ExitModule;

    // Ctrl+C ends the test after the exchange in progress; RunIoTest then
    // still switches the outputs off.
    const TStepReport trace = s.Reporter(false);
    // The step that failed, for the message: the off write comes after it.
    std::optional<TModuleStep> failed;
    const TStepReport report = [&](const TModuleStep &step) {
        trace(step);
        if (step.Status != 0 && !failed)
            failed = step;
        return !Interrupted();
    };
    std::FILE *err = s.ErrStream();
    const bool progress = IsTerminal(err);
    TIoTestOptions options;
    options.Settle = std::chrono::milliseconds(interval);
    options.Wait = [&s](std::chrono::milliseconds d) { return s.PauseUntil(s.Now() + d); };
    options.Progress = [&](const TIoTestResult &sofar) {
        if (progress) {
            std::fprintf(err, "\rkrok %zu/%zu", sofar.Steps.size(), sofar.StepsPlanned);
            std::fflush(err);
        }
        return true;
    };
    const TIoTestResult r = RunIoTest(s.Link(), options, report);
    if (progress)
        std::fputs("\r              \r", err);
    s.FlushTrace();

    const std::string off = r.OutputsOff ? " Výstupy vypnuty." : " Výstupy se nepodařilo vypnout.";
    int exit = r.Passed() ? ExitOk : ExitMismatch;
    if (r.Module.Outcome == TOutcome::Stopped) {
        s.Err("přerušeno (Ctrl+C) po " + std::to_string(r.Steps.size()) + " z " +
              std::to_string(r.StepsPlanned) + " kroků zkoušky." + off);
        exit = ExitInterrupted;
    } else if (!r.Module.Ok()) {
        s.Last = failed.value_or(s.Last);
        // The final off write's failure included.
        exit = s.Failed(r.Module, " Zkouška skončila po " + std::to_string(r.Steps.size()) +
                                      " z " + std::to_string(r.StepsPlanned) + " kroků." + off);
    }

    const TData &d = s.Data;
    // The page before the results, so that they can say where it went.
    bool written = false;
    if (page) {
        TReportPage p;
        p.Module = d.ModuleName;
        p.Date = day;
        p.Interface = s.InterfaceText();
        p.Address = d.Address;
        p.BaudRate = d.BaudRate;
        p.IntervalMs = interval;
        p.Tester = cl.Tester;
        p.Serial = cl.Serial;
        p.Note = cl.Note;
        const std::string html = AcceptanceHtml(p, r);
        const bool complete = std::fputs(html.c_str(), page.get()) >= 0;
        if (std::fclose(page.release()) != 0 || !complete) {
            s.Err("--report: soubor " + cl.ReportPath + " se nepodařilo zapsat celý.");
            exit = exit == ExitOk ? ExitModule : exit;
        } else {
            written = true;
        }
    }
    if (cl.Json) {
        Json j;
        j["module"] = d.ModuleName;
        j["address"] = d.Address;
        j["baud_rate"] = d.BaudRate;
        j["interface"] = s.InterfaceJson();
        j["din-negation"] = r.DinNegation;
        j["dout-negation"] = r.DoutNegation;
        j["interval_ms"] = interval;
        j["status_before"] = r.StatusBefore;
        j["status_after"] = r.StatusAfterRead ? Json(r.StatusAfter) : Json(nullptr);
        j["steps"] = r.Steps.size();
        j["steps_planned"] = r.StepsPlanned;
        j["exchanges"] = r.Exchanges;
        j["duration_s"] = std::round(double(r.Duration.count()) / 1e6) / 1000.0;
        j["exchange_time_s"] = std::round(double(r.ExchangeTime.count()) / 1e6) / 1000.0;
        j["outputs_off"] = r.OutputsOff;
        j["channels"] = AcceptanceChannelsJson(r);
        j["failed_channels"] = FailingChannels(r);
        j["passed"] = r.Passed();
        j["verdict"] = VerdictText(r);
        if (s.CommandGiven("--report"))
            j["report"] = written ? Json(cl.ReportPath) : Json(nullptr);
        s.Print(j);
    } else {
        std::string text = Pad("Modul", 14) + d.ModuleName + "\n" + Pad("Negace DIN", 14) +
                           HexText(r.DinNegation) + "\n" + Pad("Negace DOUT", 14) +
                           HexText(r.DoutNegation) + "\n\nKanál  Výsledek        Zjištěno\n";
        for (const TChannelVerdict &v : r.Channels) {
            char number[16];
            std::snprintf(number, sizeof number, "%5d  ", v.Channel);
            text += number + Pad(FaultText(v), 16) + SeenText(v, r) + "\n";
        }
        text += "\n" + Pad("Zkouška", 14) + IoTestRunText(r) + "\n" + Pad("Výsledek", 14) +
                ModuleVerdictText(r) + "\n";
        if (written)
            text += "\nProtokol zapsán do " + cl.ReportPath + "\n";
        s.Out(text);
    }
    return exit;
}

} // namespace cli
