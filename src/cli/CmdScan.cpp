#include "CmdScan.h"

#include "CliPlatform.h"
#include "Scan.h"
#include "ScanText.h"
#include "Text.h"
#include "Trace.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace cli
{

namespace
{

using namespace std::chrono_literals;

// The scan's progress on a terminal, one line on stderr rewritten in place,
// at most ten times a second (a probe may take 2 ms); never into a pipe or
// a file, where a log would fill with carriage returns.
class TProgressLine
{
  public:
    explicit TProgressLine(std::FILE *err) : err_(err), on_(IsTerminal(err)) {}
    ~TProgressLine() { Clear(); }
    TProgressLine(const TProgressLine &) = delete;
    TProgressLine &operator=(const TProgressLine &) = delete;

    void Show(const TScanProgress &p)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!on_ || (now - shown_ < 100ms && p.Found == found_ && p.Done != p.Total))
            return;
        shown_ = now;
        found_ = p.Found;
        const std::string line = ScanProgressText(p);
        const std::size_t width = Utf8Length(line);
        const std::string text =
            "\r" + line + std::string(width < width_ ? width_ - width : 0, ' ');
        width_ = width;
        std::fputs(text.c_str(), err_);
        std::fflush(err_);
    }
    // Before any message, and at the end.
    void Clear()
    {
        if (width_ == 0)
            return;
        std::fputs(("\r" + std::string(width_, ' ') + "\r").c_str(), err_);
        std::fflush(err_);
        width_ = 0;
    }

  private:
    std::FILE *err_;
    bool on_ = false;
    std::size_t width_ = 0; // of the line on the screen, 0 when there is none
    std::size_t found_ = 0;
    std::chrono::steady_clock::time_point shown_{};
};

// What scan probes: --addresses and --rates, or -a and -b given on the
// command line as a list of one. The settings file's address and rate are
// what the user does not know, so they limit nothing.
TScanOptions ScanPlan(const TSession &s)
{
    const TCommandLine &cl = s.Line();
    TScanOptions o;
    if (s.CommandGiven("--addresses")) {
        o.Addresses = AddressList("--addresses", cl.Addresses);
        if (s.Given("--address"))
            Usage("scan: zadejte buď -a/--address, nebo --addresses, ne obojí.");
    } else if (s.Given("--address")) {
        o.Addresses = {s.Data.Address};
    }
    if (s.CommandGiven("--rates")) {
        o.BaudCodes = BaudCodeList("--rates", cl.Rates);
        if (s.Given("--baud"))
            Usage("scan: zadejte buď -b/--baud, nebo --rates, ne obojí.");
    } else if (s.Given("--baud")) {
        o.BaudCodes = {s.BaudCode};
    }
    if (s.CommandGiven("--margin"))
        o.Margin = Milliseconds("--margin", cl.Margin, 500us, 1000000us);
    o.Guard = s.CommandGiven("--guard") ? Milliseconds("--guard", cl.Guard, 0us, 65535us)
                                        : DefaultScanGuardFor(s.Data.Kind);
    if (s.CommandGiven("--late-window"))
        o.LateAllowance = Milliseconds("--late-window", cl.LateWindow, 0us, 10000000us);
    if (s.CommandGiven("--retries"))
        o.Retries = Number("--retries", cl.Retries, 0, 10);
    o.StopAtFirst = cl.First;
    // Modules that answer at once (the drivers' own and the simulator's
    // timing off) leave the margin as the whole time-out.
    o.WireTimed = DriversWireTimed();
    return o;
}

const char *OutcomeKey(TScanOutcome outcome)
{
    switch (outcome) {
    case TScanOutcome::Done:
        return "done";
    case TScanOutcome::Stopped:
        return "interrupted";
    case TScanOutcome::DriverError:
        break;
    }
    return "driver_error";
}

const char *StageKey(TScanStage stage)
{
    switch (stage) {
    case TScanStage::Init:
        return "init";
    case TScanStage::SetConfig:
        return "set_config";
    case TScanStage::Probe:
        return "probe";
    case TScanStage::None:
        break;
    }
    return "none";
}

// --use: the one module found, over the rest of the connection. Returns
// the exit code; `written` gets the file's path when it was written.
int ScanUse(TSession &s, const TScanResult &result, int exit, std::string &written)
{
    const std::string kept = " Soubor nastavení zůstal beze změny.";
    if (!result.Ok()) {
        s.Err("--use: hledání neskončilo, nic se nezapíše." + kept);
        return exit;
    }
    if (result.Finds.empty()) {
        s.Err("--use: není co zapsat." + kept);
        return exit;
    }
    const TScanFind &f = result.Finds.front();
    if (result.Finds.size() > 1) {
        s.Err("--use: odpovědí je " + std::to_string(result.Finds.size()) +
              ", zapsat lze jen jediný modul." + kept +
              " Omezte hledání (--addresses, --rates, --first), nebo zapište připojení příkazem "
              "use (korvalctl -a N -b RYCHLOST use).");
        return ExitModule;
    }
    if (f.Collision) {
        s.Err("--use: na adrese " + std::to_string(f.Address) + " při " + RateText(f.BaudCode) +
              " odpovídá asi více modulů najednou (kolize)." + kept);
        return ExitModule;
    }
    s.Data.Address = f.Address;
    s.Data.BaudRate = BaudCodeToRate(f.BaudCode);
    const SettingsFiles files = s.Files();
    if (!s.SaveSettings(files))
        return ExitModule;
    written = files.file.string();
    s.Err("připojení zapsáno do souboru nastavení " + written + ": adresa " +
          std::to_string(f.Address) + ", " + RateText(f.BaudCode) + ".");
    return exit;
}

Json ScanJson(TSession &s, const TScanResult &result, const TScanOptions &plan,
              const std::string &written, std::size_t probed, std::size_t total,
              std::chrono::duration<double> elapsed)
{
    Json j;
    j["outcome"] = OutcomeKey(result.Outcome);
    Json finds = Json::array();
    for (const TScanFind &f : result.Finds) {
        Json one;
        one["address"] = f.Address;
        one["baud_rate"] = BaudCodeToRate(f.BaudCode);
        one["baud_code"] = f.BaudCode;
        one["module"] = f.Name.empty() ? Json(nullptr) : Json(f.Name);
        one["collision"] = f.Collision;
        one["tries"] = f.Tries;
        one["status"] = f.Status;
        one["slow"] = f.Slow;
        one["reply_ms"] = std::round(double(f.ReplyTime.count()) / 10.0) / 100.0;
        finds.push_back(one);
    }
    j["finds"] = finds;
    j["settings_file"] = written.empty() ? Json(nullptr) : Json(written);
    Json rates = Json::array();
    for (const TScanRate &rate : ScanRates(plan)) {
        Json one;
        one["baud_rate"] = rate.BaudRate;
        one["baud_code"] = rate.BaudCode;
        one["timeout_ms"] = rate.TimeoutMs;
        rates.push_back(one);
    }
    Json p;
    p["addresses"] = AddressListText(plan.Addresses);
    p["address_count"] = plan.Addresses.size();
    p["rates"] = rates;
    p["margin_ms"] = double(plan.Margin.count()) / 1000.0;
    p["guard_ms"] = double(plan.Guard.count()) / 1000.0;
    p["late_window_ms"] = double(plan.LateAllowance.count()) / 1000.0;
    p["retries"] = plan.Retries;
    p["first"] = plan.StopAtFirst;
    p["wire_timed"] = plan.WireTimed;
    j["plan"] = p;
    Json iface = s.InterfaceJson();
    iface.erase("timeout_ms"); // the scan times its probes itself
    j["interface"] = iface;
    j["probed"] = probed;
    j["total"] = total;
    j["elapsed_s"] = std::round(elapsed.count() * 1000.0) / 1000.0;
    if (result.Outcome == TScanOutcome::DriverError) {
        Json e;
        e["stage"] = StageKey(result.Stage);
        e["status"] = result.Status;
        e["text"] = result.StatusText;
        e["baud_rate"] = BaudCodeToRate(result.BaudCode);
        j["error"] = e;
    }
    return j;
}

std::string ScanCsv(const TScanResult &result)
{
    std::string text = "address,baud_rate,baud_code,module,collision,tries,status,slow,reply_ms\n";
    for (const TScanFind &f : result.Finds) {
        text += std::to_string(f.Address) + "," + std::to_string(BaudCodeToRate(f.BaudCode)) +
                "," + std::to_string(f.BaudCode) + ",";
        PutCsvText(text, f.Name);
        char reply[32];
        std::snprintf(reply, sizeof reply, "%.2f", double(f.ReplyTime.count()) / 1000.0);
        text += "," + std::to_string(int(f.Collision)) + "," + std::to_string(f.Tries) + "," +
                std::to_string(f.Status) + "," + std::to_string(int(f.Slow)) + "," + reply + "\n";
    }
    return text;
}

} // namespace

// Probes the plan's addresses at its rates over the connection's interface
// and lists who answered. Whatever ends it (Ctrl+C, a driver error), the
// finds so far are printed.
int CmdScan(TSession &s)
{
    const TCommandLine &cl = s.Line();
    const TScanOptions plan = ScanPlan(s);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> csv{nullptr, std::fclose};
    if (s.CommandGiven("--csv")) {
        csv.reset(std::fopen(cl.CsvPath.c_str(), "w"));
        if (!csv)
            Usage("--csv: soubor " + Quoted(cl.CsvPath) + " nelze otevřít pro zápis.");
    }
    s.OpenTrace();
    const std::size_t total = plan.Addresses.size() * plan.BaudCodes.size();

    std::size_t probed = 0;
    const TStepReport step = [&](const TModuleStep &x) {
        s.Last = x;
        // Taken now: the texts come from the driver, unloaded at the end.
        const std::string text = s.StatusText(x.Status);
        s.Trace({s.Data.Kind, 0, x.Address}, x, text);
        return true;
    };
    TProgressLine line(s.ErrStream());
    // Ctrl+C stops the scan after the address in progress; a module found
    // there still gets its identity read.
    const TScanReport report = [&](const TScanProgress &p) {
        probed = p.Done;
        line.Show(p);
        return !Interrupted();
    };
    const auto begun = std::chrono::steady_clock::now();
    const TScanResult result = ScanModules(ScanLinkOf(s.Data), plan, step, report);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begun;
    line.Clear();
    s.FlushTrace();

    int exit = ExitOk;
    switch (result.Outcome) {
    case TScanOutcome::Done:
        exit = result.Finds.empty() ? ExitNotFound : ExitOk;
        break;
    case TScanOutcome::Stopped:
        exit = ExitInterrupted;
        s.Err("přerušeno (Ctrl+C) po " + std::to_string(probed) + " z " + std::to_string(total) +
              " zkoušek (adresa při rychlosti); vypsáno, co se našlo do té doby.");
        break;
    case TScanOutcome::DriverError:
        exit = ExitModule;
        if (result.Stage == TScanStage::Init)
            s.Err("chyba inicializace připojení (" + s.InterfaceText() + ") - " +
                  result.StatusText + ".");
        else if (result.Stage == TScanStage::SetConfig)
            s.Err("nastavení rychlosti " + RateText(result.BaudCode) +
                  " selhalo: " + result.StatusText + ".");
        else
            s.Err("výměna (" + s.Last.What + ") selhala: " + result.StatusText + ".");
        s.Err("hledání skončilo po " + std::to_string(probed) + " z " + std::to_string(total) +
              " zkoušek (adresa při rychlosti).");
        break;
    }
    std::string written;
    if (cl.UseFound)
        exit = ScanUse(s, result, exit, written);

    if (cl.Json) {
        s.Print(ScanJson(s, result, plan, written, probed, total, elapsed));
    } else if (!result.Finds.empty()) {
        const TStatusTextOf statusText = [&s](int32_t status) { return s.StatusText(status); };
        std::string text = ScanTableHeader();
        for (const TScanFind &f : result.Finds)
            text += ScanFindRow(f, plan, statusText);
        s.Out(text);
    }
    if (csv) {
        const std::string text = ScanCsv(result);
        const bool complete = std::fputs(text.c_str(), csv.get()) >= 0;
        if (std::fclose(csv.release()) != 0 || !complete) {
            s.Err("--csv: soubor " + cl.CsvPath + " se nepodařilo zapsat celý.");
            exit = exit == ExitOk ? ExitModule : exit;
        }
    }
    if (result.Ok())
        s.Err(ScanSummaryText(result, plan, probed, elapsed));
    return exit;
}

} // namespace cli
