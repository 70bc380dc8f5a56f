#include "Session.h"

#include "CliPlatform.h"
#include "Qxxx417.h"
#include "Text.h"
#include "q417drv.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

namespace cli
{

TSession::TSession(const TCliEnvironment &env, const TCommandLine &cl, CLI::App &app)
    : env_(env), cl_(cl), app_(app)
{
}

TSession::~TSession()
{
    if (driverTried_)
        DrvDone(Data.Kind, handle_);
    trace_.reset();
    if (traceFile_ != nullptr && traceFile_ != stdout)
        std::fclose(traceFile_);
}

bool TSession::Given(const char *name) const
{
    return app_.get_option(name)->count() > 0;
}

bool TSession::CommandGiven(const char *name) const
{
    return cl_.Command->get_option(name)->count() > 0;
}

// ---- Connection ------------------------------------------------------------

SettingsFiles TSession::Files() const
{
    if (!cl_.SettingsPath.empty())
        return {cl_.SettingsPath, {}};
    return SettingsFilesOf(env_.ProgramDirectory);
}

void TSession::ResolveConnection()
{
    ConnectionDefaults(&Data);
    LoadConnection(&Data, Files());
    if (Given("--interface")) {
        uint8_t kind = 0;
        while (InterfaceKey(kind) != nullptr && cl_.Interface != InterfaceKey(kind))
            ++kind;
        if (InterfaceKey(kind) == nullptr)
            Usage("--interface: " + Quoted(cl_.Interface) +
                  " není rozhraní (com, isa, pci, usb, lan).");
        Data.Kind = kind;
    }
    if (Given("--port"))
        Data.ComPort = uint8_t(Number("--port", cl_.Port, 1, 255));
    if (Given("--base"))
        Data.BaseAddress = IsaBase(cl_.Base);
    if (Given("--ip")) {
        if (!IsIpv4(cl_.Ip))
            Usage("--ip: " + Quoted(cl_.Ip) +
                  " není adresa IPv4 ve tvaru a.b.c.d (každé číslo 0..255).");
        Data.IpAddress = cl_.Ip;
    }
    if (Given("--udp-port"))
        Data.UdpPort = Number("--udp-port", cl_.UdpPort, 1, 65535);
    if (Given("--timeout"))
        Data.UdpTimeout = Number("--timeout", cl_.Timeout, 1000, 65535);
    if (Given("--address"))
        Data.Address = uint8_t(Number("--address", cl_.Address, 0, 255));
    if (Given("--baud"))
        Data.BaudRate = Rate("--baud", cl_.Baud);
    if (Data.Kind > ifLan)
        Usage("soubor nastavení neurčuje rozhraní; zadejte --interface com|isa|pci|usb|lan.");
    // What the connection dialog would make of the file's own values.
    BaudCode = RateToBaudCode(Data.BaudRate);
    Data.BaudRate = BaudCodeToRate(BaudCode);
    if (Data.Kind == ifLan) {
        if (Data.IpAddress.empty())
            Usage("neplatná IP adresa v souboru nastavení; zadejte --ip a.b.c.d.");
        if (Data.UdpPort > 65535)
            Usage("neplatný UDP port v souboru nastavení; zadejte --udp-port 1..65535.");
        if (Data.UdpTimeout > 65535)
            Usage("neplatný UDP timeout v souboru nastavení; zadejte --timeout 1000..65535.");
        Data.UdpTimeout = std::max<uint32_t>(Data.UdpTimeout, 1000);
    }
}

bool TSession::SaveSettings(const SettingsFiles &files)
{
    if (cl_.SettingsPath.empty()) {
        // The per-user folder, when that is where the file goes.
        std::error_code ignored;
        std::filesystem::create_directories(files.file.parent_path(), ignored);
    }
    try {
        SaveConnection(&Data, files);
    } catch (const std::exception &) {
        Err("soubor nastavení " + files.file.string() + " nelze zapsat; zůstal beze změny.");
        return false;
    }
    return true;
}

bool TSession::OpenBus()
{
    OpenTrace();
    Data.InitParams.fill(0);
    switch (Data.Kind) {
    case ifCom:
        Data.InitParams[0] = Data.ComPort;
        break;
    case ifIsa:
        Data.InitParams[0] = Data.BaseAddress;
        break;
    case ifLan:
        // The driver reads the text while Init runs; Data outlives it.
        q417_params_set_text(Data.InitParams.data(), Data.IpAddress.c_str());
        Data.InitParams[1] = int32_t(Data.UdpPort);
        Data.InitParams[2] = int32_t(Data.UdpTimeout);
        break;
    default:
        break;
    }
    driverTried_ = true;
    int32_t status = DrvInit(Data.Kind, handle_, Data.InitParams);
    if (status == 0) {
        Data.Handle = handle_;
        status = DrvSetConfig(Data.Kind, handle_, Data.BaudRate, BaudCodeTimeout(BaudCode), 2);
    }
    if (status != 0) {
        Err("chyba inicializace připojení (" + InterfaceText() + ") - " + StatusText(status) + ".");
        return false;
    }
    return true;
}

// The connection dialog's sequence: Init with the interface's parameters,
// SetConfig with the rate and its time-out, the three identity reads.
bool TSession::Connect()
{
    if (!OpenBus())
        return false;
    const TModuleResult identity = ReadIdentity(Link(), Data.ModuleName, Reporter(false));
    if (!identity.Ok()) {
        Failed(identity, " Modul na adrese " + std::to_string(Data.Address) + " při " +
                             std::to_string(Data.BaudRate) + " Bd neodpovídá správně.");
        return false;
    }
    Data.Connected = true;
    return true;
}

std::string TSession::StatusText(int32_t status)
{
    const auto found = texts_.find(status);
    if (found != texts_.end())
        return found->second;
    return texts_[status] = StatusCodeText(Data.Kind, status, text_);
}

Json TSession::InterfaceJson() const
{
    Json j;
    j["kind"] = InterfaceKey(Data.Kind);
    switch (Data.Kind) {
    case ifCom:
        j["port"] = Data.ComPort;
        break;
    case ifIsa:
        j["base"] = Data.BaseAddress;
        break;
    case ifLan:
        j["ip"] = Data.IpAddress;
        j["udp_port"] = Data.UdpPort;
        j["timeout_ms"] = Data.UdpTimeout;
        break;
    default:
        break;
    }
    return j;
}

// ---- Exchanges -------------------------------------------------------------

TStepReport TSession::Reporter(bool stopOnInterrupt, bool registerPairs)
{
    return [this, stopOnInterrupt, registerPairs](const TModuleStep &step) {
        Last = step;
        if (trace_)
            trace_->Exchange(Link(), step, StatusText(step.Status));
        if (!stopOnInterrupt || !Interrupted() || step.Number == step.Total)
            return true;
        return registerPairs ? step.Number % 2 == 1 : false;
    };
}

std::string TSession::WhereText() const
{
    return StepText(Last);
}

int TSession::Failed(const TModuleResult &result, const std::string &context)
{
    switch (result.Outcome) {
    case TOutcome::Done:
        return ExitOk;
    case TOutcome::Stopped:
        Err("přerušeno (Ctrl+C) po kroku " + std::to_string(Last.Number) + "/" +
            std::to_string(Last.Total) + "." + context);
        return ExitInterrupted;
    case TOutcome::Mismatch:
        Err("zpětné čtení nesouhlasí se zapsanou hodnotou: " + WhereText() + "." + context);
        return ExitMismatch;
    case TOutcome::DriverError:
        break;
    }
    Err(WhereText() + " selhal: " + StatusText(result.Status) + "." + context);
    return ExitModule;
}

// ---- Output ----------------------------------------------------------------

void TSession::Out(const std::string &s)
{
    std::fputs(s.c_str(), env_.Out);
    std::fflush(env_.Out);
}

void TSession::Err(const std::string &s)
{
    std::fputs(("korvalctl: " + s + "\n").c_str(), env_.Err);
    std::fflush(env_.Err);
}

void TSession::Print(const Json &j)
{
    Out(j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

void TSession::PrintLine(const Json &j)
{
    Out(j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
}

void TSession::OpenTrace()
{
    if (!Given("--trace"))
        return;
    if (cl_.TracePath == "-") {
        traceFile_ = stdout;
    } else {
        traceFile_ = std::fopen(cl_.TracePath.c_str(), "w");
        if (traceFile_ == nullptr)
            Usage("--trace: soubor " + Quoted(cl_.TracePath) + " nelze otevřít pro zápis.");
    }
    trace_ = std::make_unique<TTrace>(traceFile_, cl_.TraceFormat == "csv" ? TTraceFormat::Csv
                                                                           : TTraceFormat::Text);
}

void TSession::Trace(const TModuleLink &link, const TModuleStep &step,
                     const std::string &statusText)
{
    if (trace_)
        trace_->Exchange(link, step, statusText);
}

void TSession::FlushTrace()
{
    if (trace_)
        trace_->Flush();
}

// ---- Time ------------------------------------------------------------------

std::chrono::steady_clock::time_point TSession::Now() const
{
    return env_.Now ? env_.Now() : std::chrono::steady_clock::now();
}

bool TSession::PauseUntil(std::chrono::steady_clock::time_point until) const
{
    return env_.WaitUntil ? env_.WaitUntil(until) : WaitUntil(until);
}

} // namespace cli
