#include "Korvalctl.h"

#include "CommandLine.h"

#include "ConfigProfile.h"

#include "Dekl.h"
#include "Module.h"
#include "Platform.h"
#include "Qxxx417.h"
#include "IoTest.h"
#include "Report.h"
#include "Scan.h"
#include "Text.h"
#include "Trace.h"
#include "q417drv.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{

using namespace cli;
using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

constexpr const char *NothingSent = "Nic nebylo odesláno do modulu.";

const char *const InterfaceKeys[] = {"com", "isa", "pci", "usb", "lan"};
const char *const InterfaceTexts[] = {"Standardní COMx", "ISA karta PCI-417", "PCI karta PCI-1417",
                                      "USB konvertor USB-1417", "LAN konvertor LX-1417"};

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

// ---- Ctrl+C -------------------------------------------------------------

// The handler only sets the flag and wakes a waiting WaitUntil(); the work in
// progress (one exchange) always finishes.
std::atomic<bool> Interrupted{false};
int WakePipe[2] = {-1, -1};

extern "C" void OnSignal(int)
{
    Interrupted.store(true);
    if (WakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(WakePipe[1], &byte, 1);
    }
}

void InstallSignalHandlers()
{
    if (WakePipe[0] < 0 && ::pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        WakePipe[0] = WakePipe[1] = -1;
    struct sigaction action {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking call returns at once
    // SIGHUP: the terminal closed under the run (a dropped SSH session);
    // the outputs must still be switched off.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    // A closed pipe downstream ends a loop through ferror, not by a kill
    // that would skip switching the outputs off and closing the driver.
    std::signal(SIGPIPE, SIG_IGN);
}

// Waits until `until` or until a signal comes; false when interrupted.
bool WaitUntil(std::chrono::steady_clock::time_point until)
{
    while (!Interrupted.load()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left <= 0ms)
            return true;
        if (WakePipe[0] < 0) {
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, 20ms));
            continue;
        }
        pollfd wake{WakePipe[0], POLLIN, 0};
        if (::poll(&wake, 1, int(left.count())) > 0) {
            char drain[16];
            while (::read(WakePipe[0], drain, sizeof drain) > 0) {
            }
        }
    }
    return false;
}

// Ctrl+C while a profile is still being read from stdin.
struct TInterruptedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Json RegisterJson(const TRegisterStep &r)
{
    Json j;
    j["register"] = r.Register;
    if (r.Byte == offsetof(TModuleConfig, Address)) {
        j["name"] = "address";
    } else if (r.Byte == offsetof(TModuleConfig, BaudCode)) {
        j["name"] = "baud_code";
    } else {
        for (const TSetting &s : Settings) {
            if (r.Byte >= s.Byte && r.Byte < s.Byte + 4) {
                j["name"] = s.Key;
                j["first_channel"] = 8 * (r.Byte - s.Byte);
            }
        }
    }
    return j;
}

// ---- The run -----------------------------------------------------------

class TRun
{
  public:
    TRun(const TCliEnvironment &env, const TCommandLine &cl, CLI::App &app)
        : env_(env), cl_(cl), app_(app)
    {
    }
    ~TRun();
    int Go();

  private:
    bool Given(const char *name) const { return app_.get_option(name)->count() > 0; }
    // An option of the command itself rather than a global one.
    bool CommandGiven(const char *name) const { return cl_.Command->get_option(name)->count() > 0; }
    SettingsFiles Files() const;
    void ResolveConnection();
    void OpenTrace();

    bool Connect();
    TStepReport Reporter(bool stopOnInterrupt, bool registerPairs = false);
    std::string StatusText(int32_t status);
    int Failed(const TModuleResult &result, const std::string &context = {});

    int Info();
    int ConfigShow();
    int ConfigSet();
    bool OpenBus();
    // config save, diff, restore, clone
    int ConfigProfile(const std::string &name);
    TConfigProfile LoadProfile() const;
    int ConfigSave();
    int ConfigDiff();
    int ConfigRestore();
    int ConfigClone();
    std::string WrittenText(std::span<const TRegisterStep> registers,
                            const TModuleResult &result) const;
    int Inputs();
    int Outputs();
    int Walk();
    int Status();
    int Use();
    int Scan();
    int Test(); // the I/O acceptance test
    TScanOptions ScanPlan() const;
    TScanLink ScanLink() const;
    bool SaveSettings(const SettingsFiles &files);
    int ScanUse(const TScanResult &result, int exit, std::string &written);

    void Print(const Json &j) { Out(j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n"); }
    void PrintLine(const Json &j)
    {
        Out(j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
    }
    void Out(const std::string &s)
    {
        std::fputs(s.c_str(), env_.Out);
        std::fflush(env_.Out);
    }
    void Err(const std::string &s)
    {
        std::fputs(("korvalctl: " + s + "\n").c_str(), env_.Err);
        std::fflush(env_.Err);
    }
    TModuleLink Link() const { return {data_.Kind, handle_, data_.Address}; }
    std::chrono::steady_clock::time_point Now() const
    {
        return env_.Now ? env_.Now() : std::chrono::steady_clock::now();
    }
    bool PauseUntil(std::chrono::steady_clock::time_point until) const
    {
        return env_.WaitUntil ? env_.WaitUntil(until) : WaitUntil(until);
    }
    bool OutBroken() const { return std::ferror(env_.Out) != 0; }
    Json InterfaceJson() const;
    std::string InterfaceText() const;

    const TCliEnvironment &env_;
    const TCommandLine &cl_;
    CLI::App &app_;

    TData data_{};
    uint8_t baudCode_ = 4;
    std::FILE *traceFile_ = nullptr;
    std::unique_ptr<TTrace> trace_;
    bool driverTried_ = false;
    int32_t handle_ = 0;
    TDataArray text_{};
    std::map<int32_t, std::string> texts_;
    TModuleStep last_{};
};

TRun::~TRun()
{
    if (driverTried_)
        DrvDone(data_.Kind, handle_);
    trace_.reset();
    if (traceFile_ != nullptr && traceFile_ != stdout)
        std::fclose(traceFile_);
}

SettingsFiles TRun::Files() const
{
    if (!cl_.SettingsPath.empty())
        return {cl_.SettingsPath, {}};
    return SettingsFilesOf(env_.ProgramDirectory);
}

void TRun::ResolveConnection()
{
    ConnectionDefaults(&data_);
    LoadConnection(&data_, Files());
    if (Given("--interface")) {
        const auto *key =
            std::find(std::begin(InterfaceKeys), std::end(InterfaceKeys), cl_.Interface);
        if (key == std::end(InterfaceKeys))
            Usage("--interface: " + Quoted(cl_.Interface) +
                  " není rozhraní (com, isa, pci, usb, lan).");
        data_.Kind = uint8_t(key - std::begin(InterfaceKeys));
    }
    if (Given("--port"))
        data_.ComPort = uint8_t(Number("--port", cl_.Port, 1, 255));
    if (Given("--base"))
        data_.BaseAddress = IsaBase(cl_.Base);
    if (Given("--ip")) {
        if (!IsIpv4(cl_.Ip))
            Usage("--ip: " + Quoted(cl_.Ip) +
                  " není adresa IPv4 ve tvaru a.b.c.d (každé číslo 0..255).");
        data_.IpAddress = cl_.Ip;
    }
    if (Given("--udp-port"))
        data_.UdpPort = Number("--udp-port", cl_.UdpPort, 1, 65535);
    if (Given("--timeout"))
        data_.UdpTimeout = Number("--timeout", cl_.Timeout, 1000, 65535);
    if (Given("--address"))
        data_.Address = uint8_t(Number("--address", cl_.Address, 0, 255));
    if (Given("--baud"))
        data_.BaudRate = Rate("--baud", cl_.Baud);
    if (data_.Kind > ifLan)
        Usage("soubor nastavení neurčuje rozhraní; zadejte --interface com|isa|pci|usb|lan.");
    // What the connection dialog would make of the file's own values.
    baudCode_ = RateToBaudCode(data_.BaudRate);
    data_.BaudRate = BaudCodeToRate(baudCode_);
    if (data_.Kind == ifLan) {
        if (data_.IpAddress.empty())
            Usage("neplatná IP adresa v souboru nastavení; zadejte --ip a.b.c.d.");
        if (data_.UdpPort > 65535)
            Usage("neplatný UDP port v souboru nastavení; zadejte --udp-port 1..65535.");
        if (data_.UdpTimeout > 65535)
            Usage("neplatný UDP timeout v souboru nastavení; zadejte --timeout 1000..65535.");
        data_.UdpTimeout = std::max<uint32_t>(data_.UdpTimeout, 1000);
    }
}

// Opened only once the command's own arguments have passed, so a bad
// command line leaves no empty trace file behind.
void TRun::OpenTrace()
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

std::string TRun::StatusText(int32_t status)
{
    const auto found = texts_.find(status);
    if (found != texts_.end())
        return found->second;
    return texts_[status] = StatusCodeText(data_.Kind, status, text_);
}

// Traces every step and keeps the last one for the error message. A long
// operation stops at Ctrl+C after the exchange in progress; a register
// write only after a read-back, so no register is left unchecked.
TStepReport TRun::Reporter(bool stopOnInterrupt, bool registerPairs)
{
    return [this, stopOnInterrupt, registerPairs](const TModuleStep &step) {
        last_ = step;
        if (trace_)
            trace_->Exchange({data_.Kind, handle_, data_.Address}, step, StatusText(step.Status));
        if (!stopOnInterrupt || !Interrupted.load() || step.Number == step.Total)
            return true;
        return registerPairs ? step.Number % 2 == 1 : false;
    };
}

int TRun::Failed(const TModuleResult &result, const std::string &context)
{
    const std::string where = "krok " + std::to_string(last_.Number) + "/" +
                              std::to_string(last_.Total) + " (" + last_.What + ")";
    switch (result.Outcome) {
    case TOutcome::Done:
        return ExitOk;
    case TOutcome::Stopped:
        Err("přerušeno (Ctrl+C) po kroku " + std::to_string(last_.Number) + "/" +
            std::to_string(last_.Total) + "." + context);
        return ExitInterrupted;
    case TOutcome::Mismatch:
        Err("zpětné čtení nesouhlasí se zapsanou hodnotou: " + where + "." + context);
        return ExitMismatch;
    case TOutcome::DriverError:
        break;
    }
    Err(where + " selhal: " + StatusText(result.Status) + "." + context);
    return ExitModule;
}

// The connection dialog's sequence: Init with the interface's parameters,
// SetConfig with the rate and its time-out, the three identity reads.
bool TRun::Connect()
{
    if (!OpenBus())
        return false;
    const TModuleResult identity =
        ReadIdentity({data_.Kind, handle_, data_.Address}, data_.ModuleName, Reporter(false));
    if (!identity.Ok()) {
        Failed(identity, " Modul na adrese " + std::to_string(data_.Address) + " při " +
                             std::to_string(data_.BaudRate) + " Bd neodpovídá správně.");
        return false;
    }
    data_.Connected = true;
    return true;
}

// Init and SetConfig: the bus, with no module asked yet.
bool TRun::OpenBus()
{
    OpenTrace();
    data_.InitParams.fill(0);
    switch (data_.Kind) {
    case ifCom:
        data_.InitParams[0] = data_.ComPort;
        break;
    case ifIsa:
        data_.InitParams[0] = data_.BaseAddress;
        break;
    case ifLan:
        // The driver reads the text while Init runs; data_ outlives it.
        q417_params_set_text(data_.InitParams.data(), data_.IpAddress.c_str());
        data_.InitParams[1] = int32_t(data_.UdpPort);
        data_.InitParams[2] = int32_t(data_.UdpTimeout);
        break;
    default:
        break;
    }
    driverTried_ = true;
    int32_t status = DrvInit(data_.Kind, handle_, data_.InitParams);
    if (status == 0) {
        data_.Handle = handle_;
        status = DrvSetConfig(data_.Kind, handle_, data_.BaudRate, BaudCodeTimeout(baudCode_), 2);
    }
    if (status != 0) {
        Err("chyba inicializace připojení (" + InterfaceText() + ") - " + StatusText(status) + ".");
        return false;
    }
    return true;
}

std::string TRun::InterfaceText() const
{
    std::string text = InterfaceTexts[data_.Kind];
    char detail[64] = "";
    switch (data_.Kind) {
    case ifCom:
        std::snprintf(detail, sizeof detail, ", COM%u", unsigned(data_.ComPort));
        break;
    case ifIsa:
        std::snprintf(detail, sizeof detail, ", báze %03Xh", unsigned(data_.BaseAddress));
        break;
    case ifLan:
        std::snprintf(detail, sizeof detail, ", %s:%u", data_.IpAddress.c_str(),
                      unsigned(data_.UdpPort));
        break;
    default:
        break;
    }
    return text + detail;
}

Json TRun::InterfaceJson() const
{
    Json j;
    j["kind"] = InterfaceKeys[data_.Kind];
    switch (data_.Kind) {
    case ifCom:
        j["port"] = data_.ComPort;
        break;
    case ifIsa:
        j["base"] = data_.BaseAddress;
        break;
    case ifLan:
        j["ip"] = data_.IpAddress;
        j["udp_port"] = data_.UdpPort;
        j["timeout_ms"] = data_.UdpTimeout;
        break;
    default:
        break;
    }
    return j;
}

int TRun::Go()
{
    const std::string name = cl_.Command->get_name();
    const std::string parent =
        cl_.Command->get_parent() != &app_ ? cl_.Command->get_parent()->get_name() : "";

    ResolveConnection();
    if (name == "inputs" && CommandGiven("--interval") && !cl_.Watch)
        Usage("inputs: --interval platí jen s --watch.");
    if (cl_.TraceFormat != "text" && cl_.TraceFormat != "csv")
        Usage("--trace-format: " + Quoted(cl_.TraceFormat) + " není formát (text, csv).");
    // Each command checks its own arguments before it connects.
    if (name == "scan")
        return Scan();
    if (name == "use")
        return Use();
    if (name == "info")
        return Info();
    if (name == "test")
        return Test();
    if (parent == "config" && name != "show" && name != "set")
        return ConfigProfile(name);
    if (parent == "config")
        return name == "show" ? ConfigShow() : ConfigSet();
    if (name == "inputs")
        return Inputs();
    if (name == "outputs")
        return Outputs();
    if (name == "walk")
        return Walk();
    return Status();
}

int TRun::Info()
{
    if (!Connect())
        return ExitModule;
    if (cl_.Json) {
        Json j;
        j["module"] = data_.ModuleName;
        j["address"] = data_.Address;
        j["baud_rate"] = data_.BaudRate;
        j["baud_code"] = baudCode_;
        j["interface"] = InterfaceJson();
        Print(j);
        return ExitOk;
    }
    Out("Modul      " + data_.ModuleName + "\n" + "Adresa     " + std::to_string(data_.Address) +
        "\n" + "Rychlost   " + std::to_string(data_.BaudRate) + " Bd\n" + "Rozhraní   " +
        InterfaceText() + "\n");
    return ExitOk;
}

std::vector<TRegisterStep> AllRegisters()
{
    std::vector<TRegisterStep> all(AddressRegisters().begin(), AddressRegisters().end());
    all.insert(all.end(), ChannelRegisters().begin(), ChannelRegisters().end());
    return all;
}

int TRun::ConfigShow()
{
    if (!Connect())
        return ExitModule;
    const std::vector<TRegisterStep> all = AllRegisters();
    TModuleConfig c{};
    const TModuleResult result = ReadRegisters(Link(), all, c, Reporter(true));
    if (!result.Ok())
        return Failed(result);
    const bool knownRate = c.BaudCode < BaudCodeCount;
    if (cl_.Json) {
        Json j;
        j["address"] = c.Address;
        j["baud_code"] = c.BaudCode;
        j["baud_rate"] = knownRate ? Json(BaudCodeToRate(c.BaudCode)) : Json(nullptr);
        for (const TSetting &s : Settings)
            j[s.Key] = SettingWord(c, s);
        Json channels = Json::array();
        for (int ch = 0; ch < 32; ++ch) {
            Json one;
            one["channel"] = ch;
            for (const TSetting &s : Settings)
                one[s.Key] = (SettingWord(c, s) >> ch) & 1u;
            channels.push_back(one);
        }
        j["channels"] = channels;
        Print(j);
        return ExitOk;
    }
    std::string text =
        Pad("Adresa", 22) + std::to_string(c.Address) + "\n" + Pad("Rychlost", 22) +
        (knownRate ? std::to_string(BaudCodeToRate(c.BaudCode)) + " Bd" : std::string("neznámá")) +
        " (kód " + std::to_string(c.BaudCode) + ")\n";
    for (const TSetting &s : Settings)
        text += Pad(s.Text, 22) + HexText(SettingWord(c, s)) + "\n";
    text += "\nKanál  Negace DIN  Negace DOUT  Počáteční stav DOUT\n";
    for (int ch = 0; ch < 32; ++ch) {
        char line[80];
        std::snprintf(line, sizeof line, "%5d  %10u  %11u  %19u\n", ch,
                      (SettingWord(c, Settings[0]) >> ch) & 1u,
                      (SettingWord(c, Settings[1]) >> ch) & 1u,
                      (SettingWord(c, Settings[2]) >> ch) & 1u);
        text += line;
    }
    Out(text);
    return ExitOk;
}

int TRun::ConfigSet()
{
    const std::vector<TChange> changes = ParseChanges(cl_.Items);
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
    if (!Connect())
        return ExitModule;
    // A bit change keeps the other seven bits of its register as they are.
    TModuleConfig before{};
    const TModuleResult read = ReadRegisters(Link(), touched, before, Reporter(true));
    if (!read.Ok())
        return Failed(read, " Nic nebylo zapsáno.");
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

    if (!cl_.DryRun) {
        const TModuleResult result = WriteRegisters(Link(), changed, after, Reporter(true, true));
        if (!result.Ok())
            return Failed(result, WrittenText(changed, result));
    }

    const bool restart = std::any_of(changed.begin(), changed.end(), [](const TRegisterStep &r) {
        return r.Byte == offsetof(TModuleConfig, Address) ||
               r.Byte == offsetof(TModuleConfig, BaudCode);
    });
    if (cl_.Json) {
        Json j;
        j["dry_run"] = cl_.DryRun;
        Json list = Json::array();
        for (const TRegisterStep &r : touched) {
            Json one = RegisterJson(r);
            one["before"] = ConfigByte(before, r.Byte);
            one["after"] = ConfigByte(after, r.Byte);
            one["written"] = written(r) && !cl_.DryRun;
            list.push_back(one);
        }
        j["registers"] = list;
        j["restart_required"] = restart;
        Print(j);
        return ExitOk;
    }
    std::string text;
    if (!changed.empty()) {
        text = cl_.DryRun ? "Zapsalo by se (--dry-run: nic nebylo zapsáno):\n"
                          : "Zapsáno a ověřeno zpětným čtením:\n";
        text += "Registr  " + Pad("Nastavení", 26) + Pad("Před", 16) + "Po\n";
    }
    std::string unchanged;
    for (const TRegisterStep &r : touched) {
        if (!written(r)) {
            unchanged += (unchanged.empty() ? "" : ", ") + std::to_string(r.Register) + " (" +
                         RegisterText(r) + " = " +
                         RegisterValueText(r, ConfigByte(before, r.Byte)) + ")";
            continue;
        }
        char number[16];
        std::snprintf(number, sizeof number, "%7u  ", unsigned(r.Register));
        text += number + Pad(RegisterText(r), 26) +
                Pad(RegisterValueText(r, ConfigByte(before, r.Byte)), 16) +
                RegisterValueText(r, ConfigByte(after, r.Byte)) + "\n";
    }
    if (!unchanged.empty())
        text += "Beze změny, nezapsáno: registr" +
                std::string(touched.size() - changed.size() > 1 ? "y " : " ") + unchanged + ".\n";
    if (restart)
        text += "Nová adresa a rychlost platí až po restartu modulu; do té doby modul odpovídá "
                "na adrese " +
                std::to_string(data_.Address) + " rychlostí " + std::to_string(data_.BaudRate) +
                " Bd.\n";
    Out(text);
    return ExitOk;
}

// ---- config save, diff, restore, clone ------------------------------------

int TRun::ConfigProfile(const std::string &name)
{
    if (name == "save")
        return ConfigSave();
    if (name == "diff")
        return ConfigDiff();
    if (name == "restore")
        return ConfigRestore();
    return ConfigClone();
}

// The whole file, checked before anything is sent: a fault in it is a
// usage error, with its line.
TConfigProfile TRun::LoadProfile() const
{
    const std::string subject =
        "config " + cl_.Command->get_name() + ": soubor " + Quoted(cl_.ProfilePath);
    const std::string unreadable = subject + " nelze přečíst (není to čitelný soubor do 1 MiB).";
    std::string text;
    if (cl_.ProfilePath == "-") {
        // Capped as a file is: /dev/zero on stdin must not fill the memory.
        char buffer[4096];
        for (std::size_t n; text.size() <= platform::MaxSettingsFileSize &&
                            (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
            text.append(buffer, n);
        if (Interrupted.load())
            throw TInterruptedError("přerušeno (Ctrl+C) při čtení profilu ze stdin.");
        if (text.size() > platform::MaxSettingsFileSize || std::ferror(stdin) != 0)
            Usage(unreadable);
    } else {
        switch (platform::ReadSettingsFile(cl_.ProfilePath, text)) {
        case platform::ReadResult::Read:
            break;
        case platform::ReadResult::Missing:
            Usage(subject + " neexistuje.");
        case platform::ReadResult::Unreadable:
            Usage(unreadable);
        }
    }
    TProfileParse parsed = ParseProfile(text);
    if (!parsed.Profile)
        Usage(subject + ", " + parsed.ErrorText());
    return std::move(*parsed.Profile);
}

// Which registers of `registers` a write that ended with `result` left
// written and checked: a write and its read-back a register.
std::string TRun::WrittenText(std::span<const TRegisterStep> registers,
                              const TModuleResult &result) const
{
    const std::size_t checked =
        result.Outcome == TOutcome::Stopped ? last_.Number / 2 : (last_.Number - 1) / 2;
    std::string text;
    for (std::size_t i = 0; i < checked && i < registers.size(); ++i)
        text += (i == 0 ? " Zapsány a ověřeny registry: " : ", ") +
                std::to_string(registers[i].Register);
    return text + (checked == 0 ? " Žádný registr nebyl zapsán a ověřen." : ".");
}

int TRun::ConfigSave()
{
    const bool toStdout = cl_.ProfilePath == "-";
    if (toStdout && cl_.Json)
        Usage("config save -: soubor jde na stdout, --json tam mít místo nemá.");
    if (!Connect())
        return ExitModule;
    TConfigProfile profile;
    profile.Module = data_.ModuleName;
    const std::vector<TRegisterStep> all = AllRegisters();
    const TModuleResult read = ReadRegisters(Link(), all, profile.Config, Reporter(true));
    if (!read.Ok())
        return Failed(read, " Soubor nebyl zapsán.");
    if (profile.Config.BaudCode >= BaudCodeCount) {
        Err("modul hlásí neznámý kód rychlosti " + std::to_string(profile.Config.BaudCode) +
            " (platné 0..8); profil nebyl uložen. Nastavte rychlost: korvalctl config set "
            "baud=RYCHLOST.");
        return ExitModule;
    }
    const std::string text = FormatProfile(profile);
    if (toStdout) {
        Out(text);
        return ExitOk;
    }
    // A new file beside the old one renamed over it: a reader never finds
    // half a profile.
    if (!platform::UpdateFile(cl_.ProfilePath, [&](const std::string *) {
            return std::optional<std::string>(text);
        })) {
        Err("soubor " + Quoted(cl_.ProfilePath) +
            " se nepodařilo zapsat (práva, místo na disku?).");
        return ExitModule;
    }
    if (cl_.Json) {
        Json j;
        j["file"] = cl_.ProfilePath;
        j["module"] = profile.Module;
        j["address"] = profile.Config.Address;
        j["baud_code"] = profile.Config.BaudCode;
        Print(j);
    } else {
        Out("Uloženo do " + cl_.ProfilePath + ": " + profile.Module + ", adresa " +
            std::to_string(profile.Config.Address) + ", " +
            std::to_string(BaudCodeToRate(profile.Config.BaudCode)) + " Bd.\n");
    }
    return ExitOk;
}

int TRun::ConfigDiff()
{
    const TConfigProfile file = LoadProfile();
    if (!Connect())
        return ExitModule;
    TModuleConfig module{};
    const std::vector<TRegisterStep> all = AllRegisters();
    const TModuleResult read = ReadRegisters(Link(), all, module, Reporter(true));
    if (!read.Ok())
        return Failed(read);
    // What a restore with the same --with-address would write.
    const TConfigDifference d = DiffProfile(module, file.Config, cl_.WithAddress);
    const std::size_t compared = RestoredRegisters(cl_.WithAddress).size();
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
    if (cl_.Json) {
        Json j;
        j["equal"] = d.Equal();
        j["module"] = {{"module", data_.ModuleName}, {"file", file.Module}};
        j["with_address"] = cl_.WithAddress;
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
        Print(j);
        return d.Equal() ? ExitOk : ExitMismatch;
    }
    auto registerRows = [](const std::vector<TRegisterDifference> &list) {
        std::string rows = "Registr  " + Pad("Nastavení", 26) + Pad("Modul", 16) + "Soubor\n";
        for (const TRegisterDifference &r : list) {
            char number[16];
            std::snprintf(number, sizeof number, "%7u  ", unsigned(r.Register.Register));
            rows += number + Pad(RegisterText(r.Register), 26) +
                    Pad(RegisterValueText(r.Register, r.Left), 16) +
                    RegisterValueText(r.Register, r.Right) + "\n";
        }
        return rows;
    };
    std::string text = "Modul: " + data_.ModuleName + "; v souboru: " + file.Module +
                       (data_.ModuleName == file.Module ? "\n" : " (jen pro informaci)\n");
    if (!d.Channels.empty()) {
        text += "\nKanál  " + Pad("Nastavení", 21) + "Modul  Soubor\n";
        for (const TChannelDifference &c : d.Channels) {
            char cells[64];
            std::snprintf(cells, sizeof cells, "%5u  ", unsigned(c.Channel));
            text += cells + Pad(c.Setting->Text, 21) + Pad(std::to_string(c.Left), 7) +
                    std::to_string(c.Right) + "\n";
        }
    }
    if (!d.Equal())
        text += "\n" + registerRows(d.Registers);
    if (!d.Uncompared.empty())
        text += "\nJen pro informaci (neporovnává se, jako je config restore nezapíše; "
                "porovná je --with-address):\n" +
                registerRows(d.Uncompared);
    if (!d.Channels.empty() || !d.Equal() || !d.Uncompared.empty())
        text += "\n";
    if (d.Equal())
        text += "Modul se shoduje se souborem " + cl_.ProfilePath + " (" +
                std::to_string(compared) + " registrů).\n";
    else
        text += "Liší se " + std::to_string(d.Registers.size()) + " z " + std::to_string(compared) +
                " registrů.\n";
    Out(text);
    return d.Equal() ? ExitOk : ExitMismatch;
}

int TRun::ConfigRestore()
{
    const TConfigProfile file = LoadProfile();
    const std::vector<TRegisterStep> registers = RestoredRegisters(cl_.WithAddress);
    if (!Connect())
        return ExitModule;
    // Only a dry run reads: a restore writes every register regardless.
    TModuleConfig module{};
    if (cl_.DryRun) {
        const TModuleResult read = ReadRegisters(Link(), registers, module, Reporter(true));
        if (!read.Ok())
            return Failed(read, " Nic nebylo zapsáno.");
    } else {
        const TModuleResult written =
            WriteRegisters(Link(), registers, file.Config, Reporter(true, true));
        if (!written.Ok())
            return Failed(written, WrittenText(registers, written));
    }
    const TConfigDifference d = DiffConfigs(module, file.Config, registers);
    auto differs = [&](const TRegisterStep &r) {
        return std::any_of(d.Registers.begin(), d.Registers.end(),
                           [&](const TRegisterDifference &x) { return x.Register.Byte == r.Byte; });
    };
    if (cl_.Json) {
        Json j;
        j["dry_run"] = cl_.DryRun;
        j["file"] = cl_.ProfilePath;
        j["module"] = data_.ModuleName;
        Json list = Json::array();
        for (const TRegisterStep &r : registers) {
            Json one = RegisterJson(r);
            one["value"] = ConfigByte(file.Config, r.Byte);
            if (cl_.DryRun) {
                one["module"] = ConfigByte(module, r.Byte);
                one["differs"] = differs(r);
            }
            list.push_back(one);
        }
        j["registers"] = list;
        j["restart_required"] = cl_.WithAddress;
        Print(j);
        return ExitOk;
    }
    std::string text;
    if (cl_.DryRun) {
        text = "Zapsalo by se (--dry-run: nic nebylo zapsáno); liší se " +
               std::to_string(d.Registers.size()) + " z " + std::to_string(registers.size()) +
               " registrů (*):\n" + "Registr    " + Pad("Nastavení", 26) + Pad("Modul", 16) +
               "Soubor\n";
        for (const TRegisterStep &r : registers) {
            char number[16];
            std::snprintf(number, sizeof number, "%7u %c  ", unsigned(r.Register),
                          differs(r) ? '*' : ' ');
            text += number + Pad(RegisterText(r), 26) +
                    Pad(RegisterValueText(r, ConfigByte(module, r.Byte)), 16) +
                    RegisterValueText(r, ConfigByte(file.Config, r.Byte)) + "\n";
        }
    } else {
        text = "Zapsáno a ověřeno zpětným čtením: " + std::to_string(registers.size()) +
               " registrů ze souboru " + cl_.ProfilePath + ".\n";
    }
    if (cl_.WithAddress)
        text += "Adresa " + std::to_string(file.Config.Address) + " a rychlost " +
                std::to_string(BaudCodeToRate(file.Config.BaudCode)) +
                " Bd platí až po restartu modulu.\n";
    Out(text);
    return ExitOk;
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

// The profile's channel registers to each address in turn over one open
// bus; a module that fails does not stop the next one, Ctrl+C does.
int TRun::ConfigClone()
{
    const TConfigProfile file = LoadProfile();
    const std::vector<uint8_t> addresses = AddressList("--to", cl_.CloneTo);
    const std::span<const TRegisterStep> registers = ChannelRegisters();
    if (!OpenBus())
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
        if (!Interrupted.load()) {
            data_.Address = address;
            row.Attempted = true;
            row.Result = ReadIdentity(Link(), row.Module, Reporter(false));
            if (row.Result.Ok() && Interrupted.load())
                row.Result.Outcome = TOutcome::Stopped;
            else if (row.Result.Ok())
                row.Result = WriteRegisters(Link(), registers, file.Config, Reporter(true, true));
        }
        const std::string where = "krok " + std::to_string(last_.Number) + "/" +
                                  std::to_string(last_.Total) + " (" + last_.What + ")";
        switch (!row.Attempted ? TOutcome::Stopped : row.Result.Outcome) {
        case TOutcome::Done:
            break;
        case TOutcome::Mismatch:
            row.Error =
                "zpětné čtení nesouhlasí: " + where + "." + WrittenText(registers, row.Result);
            break;
        case TOutcome::Stopped:
            row.Error =
                row.Attempted && row.Result.Step != 0
                    ? "přerušeno (Ctrl+C) po " + where + "." + WrittenText(registers, row.Result)
                    : std::string("přerušeno (Ctrl+C), nic nezapsáno.");
            row.Result.Outcome = TOutcome::Stopped;
            break;
        case TOutcome::DriverError:
            row.Error = where + " selhal: " + StatusText(row.Result.Status) + "." +
                        (row.Result.Register != 0 ? WrittenText(registers, row.Result)
                                                  : std::string(" Nic nezapsáno."));
            break;
        }
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

    if (cl_.Json) {
        Json j;
        j["file"] = cl_.ProfilePath;
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
        Print(j);
    } else {
        std::string text;
        for (const TRow &row : rows) {
            char head[32];
            std::snprintf(head, sizeof head, "adresa %3u  ", unsigned(row.Address));
            text += head + (row.Error.empty() ? "hotovo (" + row.Module + ")" : row.Error) + "\n";
        }
        Out(text);
    }
    Err("hotovo " + std::to_string(done) + " z " + std::to_string(rows.size()) + " modulů.");
    return exit;
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
        ::gmtime_r(&seconds, &parts);
    else
        ::localtime_r(&seconds, &parts);
    char text[40];
    const std::size_t n =
        std::strftime(text, sizeof text, utc ? "%Y-%m-%dT%H:%M:%S" : "%H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%03d%s", int(ms.count()), utc ? "Z" : "");
    return text;
}

int TRun::Inputs()
{
    const uint32_t interval =
        CommandGiven("--interval") ? Number("--interval", cl_.Interval, 10, 60000) : 200;
    if (!Connect())
        return ExitModule;
    uint32_t word = 0;
    if (!cl_.Watch) {
        const TModuleResult result = ReadInputs(Link(), word, Reporter(false));
        if (!result.Ok())
            return Failed(result);
        if (cl_.Json) {
            Json j;
            j["inputs"] = word;
            j["channels"] = ChannelsJson(word);
            Print(j);
        } else {
            Out(Pad("DIN0-31", 11) + HexText(word) + "\n" + ChannelTable("DIN", word));
        }
        return ExitOk;
    }
    // A line for the first reading and for each change; a failed reading
    // is reported once per status code and the watch goes on, as the
    // input window does.
    std::optional<uint32_t> shown;
    uint8_t lastStatus = 0;
    while (!Interrupted.load()) {
        // A reading every interval, start to start, whatever the exchange takes.
        const auto started = Now();
        const TModuleResult result = ReadInputs(Link(), word, Reporter(false));
        if (result.Ok()) {
            if (!shown || *shown != word) {
                if (cl_.Json) {
                    Json j;
                    j["time"] = Clock(true);
                    j["inputs"] = word;
                    j["channels"] = ChannelsJson(word);
                    PrintLine(j);
                } else {
                    Out(Clock(false) + "  " + HexText(word) + "  " + BitsText(word) + "\n");
                }
                shown = word;
            }
            lastStatus = 0;
        } else if (result.Status != lastStatus) {
            Failed(result);
            lastStatus = result.Status;
            shown.reset();
        }
        if (OutBroken())
            break;
        if (trace_)
            trace_->Flush();
        if (!PauseUntil(started + std::chrono::milliseconds(interval)))
            break;
    }
    return ExitOk;
}

int TRun::Outputs()
{
    const uint32_t word = OutputsValue(cl_.OutputsText);
    if (!cl_.DryRun) {
        if (!Connect())
            return ExitModule;
        const TModuleResult result = WriteOutputs(Link(), word, Reporter(false));
        if (!result.Ok())
            return Failed(result);
    }
    if (cl_.Json) {
        Json j;
        j["dry_run"] = cl_.DryRun;
        j["outputs"] = word;
        j["channels"] = ChannelsJson(word);
        Print(j);
    } else {
        Out(std::string(cl_.DryRun ? "Zapsalo by se (--dry-run: nic nebylo odesláno):\n"
                                   : "Zapsáno:\n") +
            Pad("DOUT0-31", 11) + HexText(word) + "\n" + ChannelTable("DOUT", word));
    }
    return ExitOk;
}

// The output window's walking one: DOUT0 alone, then DOUT1 alone, ...,
// DOUT31, and again from DOUT0. A failed step does not hold the walk up.
// Whatever ends it, the outputs are then all switched off.
int TRun::Walk()
{
    const uint32_t interval =
        CommandGiven("--interval") ? Number("--interval", cl_.Interval, 10, 60000) : 500;
    // 0: until Ctrl+C.
    const uint32_t count =
        CommandGiven("--count") ? Number("--count", cl_.Count, 1, 1000000000) : 0;
    if (!Connect())
        return ExitModule;
    uint32_t pattern = 1;
    uint32_t done = 0;
    bool failed = false;
    while (!Interrupted.load() && (count == 0 || done < count)) {
        // The interval is the step's period, start to start, as a technician
        // times it; a step slower than that is followed at once.
        const auto started = Now();
        const uint32_t word = pattern;
        pattern = pattern << 1 != 0 ? pattern << 1 : 1;
        const TModuleResult result = WriteOutputs(Link(), word, Reporter(false));
        ++done;
        int channel = 0;
        while ((word >> channel) != 1u)
            ++channel;
        if (!result.Ok()) {
            failed = true;
            Failed(result);
        }
        if (cl_.Json) {
            Json j;
            j["step"] = done;
            j["channel"] = channel;
            j["outputs"] = word;
            j["ok"] = result.Ok();
            PrintLine(j);
        } else {
            char line[64];
            std::snprintf(line, sizeof line, "%6u  DOUT%-2d  %s%s\n", done, channel,
                          HexText(word).c_str(), result.Ok() ? "" : "  chyba");
            Out(line);
        }
        if (OutBroken())
            break;
        if (trace_)
            trace_->Flush();
        // The last step too lasts its period before the outputs go off.
        if (!PauseUntil(started + std::chrono::milliseconds(interval)))
            break;
    }
    const TModuleResult off = WriteOutputs(Link(), 0, Reporter(false));
    if (!off.Ok())
        return Failed(off, " Výstupy nemusí být vypnuté.");
    Err("běžící 1 skončila po " + std::to_string(done) + (done == 1 ? " kroku" : " krocích") +
        "; všechny výstupy vypnuty.");
    if (count != 0 && done < count)
        return ExitInterrupted;
    return failed ? ExitModule : ExitOk;
}

int TRun::Status()
{
    if (!Connect())
        return ExitModule;
    uint32_t word = 0;
    TModuleResult result = ReadStatus(Link(), word, Reporter(false));
    if (!result.Ok())
        return Failed(result);
    uint32_t after = 0;
    if (cl_.Clear) {
        result = ClearStatus(Link(), Reporter(false));
        if (!result.Ok())
            return Failed(result, " Status registr nebyl vynulován.");
        result = ReadStatus(Link(), after, Reporter(false));
        if (!result.Ok())
            return Failed(result, " Status registr byl vynulován.");
    }
    if (cl_.Json) {
        Json j;
        j["status"] = word;
        j["bits"] = ChannelsJson(word);
        Json flags;
        for (int bit = 0; bit < 8; ++bit) {
            if (std::string_view(StatusBitName(bit)) != "---")
                flags[StatusBitName(bit)] = (word >> bit) & 1u;
        }
        j["flags"] = flags;
        j["cleared"] = cl_.Clear;
        if (cl_.Clear)
            j["status_after_clear"] = after;
        Print(j);
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
    if (cl_.Clear)
        text += "Vynulováno; po vynulování " + HexText(after) + "\n";
    Out(text);
    return ExitOk;
}

// Writes data_'s connection into the settings file; false, with the
// message, when it cannot (the file then keeps its old content).
bool TRun::SaveSettings(const SettingsFiles &files)
{
    if (cl_.SettingsPath.empty()) {
        // The per-user folder, when that is where the file goes.
        std::error_code ignored;
        std::filesystem::create_directories(files.file.parent_path(), ignored);
    }
    try {
        SaveConnection(&data_, files);
    } catch (const std::exception &) {
        Err("soubor nastavení " + files.file.string() + " nelze zapsat; zůstal beze změny.");
        return false;
    }
    return true;
}

int TRun::Use()
{
    const SettingsFiles files = Files();
    if (!SaveSettings(files))
        return ExitModule;
    if (cl_.Json) {
        Json j;
        j["settings_file"] = files.file.string();
        j["interface"] = InterfaceJson();
        j["address"] = data_.Address;
        j["baud_rate"] = data_.BaudRate;
        Print(j);
        return ExitOk;
    }
    Out("Nastavení připojení zapsáno do " + files.file.string() + "\n" + Pad("Rozhraní", 11) +
        InterfaceText() + "\n" + Pad("Adresa", 11) + std::to_string(data_.Address) + "\n" +
        Pad("Rychlost", 11) + std::to_string(data_.BaudRate) + " Bd\n");
    return ExitOk;
}

// ---- scan ---------------------------------------------------------------

// "1:05", "1:02:03".
std::string ClockText(std::chrono::nanoseconds d)
{
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

std::string RateText(uint8_t baudCode)
{
    return std::to_string(BaudCodeToRate(baudCode)) + " Bd";
}

// The scan's progress on a terminal, one line on stderr rewritten in place,
// at most ten times a second (a probe may take 2 ms); never into a pipe or
// a file, where a log would fill with carriage returns.
class TProgressLine
{
  public:
    explicit TProgressLine(std::FILE *err) : err_(err)
    {
        const int fd = ::fileno(err);
        on_ = fd >= 0 && ::isatty(fd) == 1;
    }
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
        // Under 80 columns, so that the terminal never wraps it.
        char line[128];
        std::snprintf(line, sizeof line,
                      "%6u Bd  adresa %3u  %3zu %%  uplynulo %s  zbývá ~%s  "
                      "nalezeno %zu",
                      unsigned(BaudCodeToRate(p.BaudCode)), unsigned(p.Address),
                      p.Total == 0 ? std::size_t(100) : p.Done * 100 / p.Total,
                      ClockText(p.Elapsed).c_str(),
                      ClockText(std::chrono::ceil<std::chrono::seconds>(p.Left)).c_str(), p.Found);
        const std::size_t width = Utf8Length(line);
        const std::string text =
            "\r" + std::string(line) + std::string(width < width_ ? width_ - width : 0, ' ');
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
TScanOptions TRun::ScanPlan() const
{
    TScanOptions o;
    if (CommandGiven("--addresses")) {
        o.Addresses = AddressList("--addresses", cl_.Addresses);
        if (Given("--address"))
            Usage("scan: zadejte buď -a/--address, nebo --addresses, ne obojí.");
    } else if (Given("--address")) {
        o.Addresses = {data_.Address};
    }
    if (CommandGiven("--rates")) {
        o.BaudCodes = BaudCodeList("--rates", cl_.Rates);
        if (Given("--baud"))
            Usage("scan: zadejte buď -b/--baud, nebo --rates, ne obojí.");
    } else if (Given("--baud")) {
        o.BaudCodes = {baudCode_};
    }
    if (CommandGiven("--margin"))
        o.Margin = Milliseconds("--margin", cl_.Margin, 500us, 1000000us);
    o.Guard = CommandGiven("--guard") ? Milliseconds("--guard", cl_.Guard, 0us, 65535us)
                                      : DefaultScanGuardFor(data_.Kind);
    if (CommandGiven("--late-window"))
        o.LateAllowance = Milliseconds("--late-window", cl_.LateWindow, 0us, 10000000us);
    if (CommandGiven("--retries"))
        o.Retries = Number("--retries", cl_.Retries, 0, 10);
    o.StopAtFirst = cl_.First;
    // Modules that answer at once (the drivers' own and the simulator's
    // timing off) leave the margin as the whole time-out.
    const char *timing = std::getenv("Q417_TIMING");
    o.WireTimed = timing == nullptr || std::string_view(timing) != "none";
    return o;
}

TScanLink TRun::ScanLink() const
{
    TScanLink link;
    link.Kind = data_.Kind;
    switch (data_.Kind) {
    case ifCom:
        link.Params[0] = data_.ComPort;
        break;
    case ifIsa:
        link.Params[0] = data_.BaseAddress;
        break;
    case ifLan:
        link.IpAddress = data_.IpAddress;
        link.UdpPort = uint16_t(data_.UdpPort);
        break;
    default:
        break;
    }
    return link;
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
int TRun::ScanUse(const TScanResult &result, int exit, std::string &written)
{
    const std::string kept = " Soubor nastavení zůstal beze změny.";
    if (!result.Ok()) {
        Err("--use: hledání neskončilo, nic se nezapíše." + kept);
        return exit;
    }
    if (result.Finds.empty()) {
        Err("--use: není co zapsat." + kept);
        return exit;
    }
    const TScanFind &f = result.Finds.front();
    if (result.Finds.size() > 1) {
        Err("--use: odpovědí je " + std::to_string(result.Finds.size()) +
            ", zapsat lze jen jediný modul." + kept +
            " Omezte hledání (--addresses, --rates, --first), nebo zapište připojení příkazem "
            "use (korvalctl -a N -b RYCHLOST use).");
        return ExitModule;
    }
    if (f.Collision) {
        Err("--use: na adrese " + std::to_string(f.Address) + " při " + RateText(f.BaudCode) +
            " odpovídá asi více modulů najednou (kolize)." + kept);
        return ExitModule;
    }
    data_.Address = f.Address;
    data_.BaudRate = BaudCodeToRate(f.BaudCode);
    const SettingsFiles files = Files();
    if (!SaveSettings(files))
        return ExitModule;
    written = files.file.string();
    Err("připojení zapsáno do souboru nastavení " + written + ": adresa " +
        std::to_string(f.Address) + ", " + RateText(f.BaudCode) + ".");
    return exit;
}

// Probes the plan's addresses at its rates over the connection's interface
// and lists who answered. Whatever ends it (Ctrl+C, a driver error), the
// finds so far are printed.
int TRun::Scan()
{
    const TScanOptions plan = ScanPlan();
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> csv{nullptr, std::fclose};
    if (CommandGiven("--csv")) {
        csv.reset(std::fopen(cl_.CsvPath.c_str(), "w"));
        if (!csv)
            Usage("--csv: soubor " + Quoted(cl_.CsvPath) + " nelze otevřít pro zápis.");
    }
    OpenTrace();
    const std::size_t total = plan.Addresses.size() * plan.BaudCodes.size();

    std::size_t probed = 0;
    const TStepReport step = [&](const TModuleStep &s) {
        last_ = s;
        // Taken now: the texts come from the driver, unloaded at the end.
        const std::string text = StatusText(s.Status);
        if (trace_)
            trace_->Exchange({data_.Kind, 0, s.Address}, s, text);
        return true;
    };
    TProgressLine line(env_.Err);
    // Ctrl+C stops the scan after the address in progress; a module found
    // there still gets its identity read.
    const TScanReport report = [&](const TScanProgress &p) {
        probed = p.Done;
        line.Show(p);
        return !Interrupted.load();
    };
    const auto begun = std::chrono::steady_clock::now();
    const TScanResult result = ScanModules(ScanLink(), plan, step, report);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begun;
    line.Clear();
    if (trace_)
        trace_->Flush();

    int exit = ExitOk;
    switch (result.Outcome) {
    case TScanOutcome::Done:
        exit = result.Finds.empty() ? ExitNotFound : ExitOk;
        break;
    case TScanOutcome::Stopped:
        exit = ExitInterrupted;
        Err("přerušeno (Ctrl+C) po " + std::to_string(probed) + " z " + std::to_string(total) +
            " zkoušek (adresa při rychlosti); vypsáno, co se našlo do té doby.");
        break;
    case TScanOutcome::DriverError:
        exit = ExitModule;
        if (result.Stage == TScanStage::Init)
            Err("chyba inicializace připojení (" + InterfaceText() + ") - " + result.StatusText +
                ".");
        else if (result.Stage == TScanStage::SetConfig)
            Err("nastavení rychlosti " + RateText(result.BaudCode) +
                " selhalo: " + result.StatusText + ".");
        else
            Err("výměna (" + last_.What + ") selhala: " + result.StatusText + ".");
        Err("hledání skončilo po " + std::to_string(probed) + " z " + std::to_string(total) +
            " zkoušek (adresa při rychlosti).");
        break;
    }
    std::string written;
    if (cl_.UseFound)
        exit = ScanUse(result, exit, written);

    auto moduleText = [&](const TScanFind &f) -> std::string {
        const std::string note = ScanFindNote(f, plan);
        if (f.Collision)
            return note;
        std::string text = !f.Name.empty()  ? f.Name
                           : f.Status != 0 ? "odmítl čtení identity: " + StatusText(f.Status)
                                           : "odpověděl, identitu se nepodařilo přečíst";
        return note.empty() ? text : text + "  " + note;
    };
    if (cl_.Json) {
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
        for (uint8_t code : plan.BaudCodes) {
            Json one;
            one["baud_rate"] = BaudCodeToRate(code);
            one["baud_code"] = code;
            one["timeout_ms"] = ProbeTimeoutMs(plan, code);
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
        Json iface = InterfaceJson();
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
        Print(j);
    } else if (!result.Finds.empty()) {
        std::string text = "Adresa  Rychlost   Modul\n";
        for (const TScanFind &f : result.Finds) {
            char cells[32];
            std::snprintf(cells, sizeof cells, "%6u  %6u Bd  ", unsigned(f.Address),
                          unsigned(BaudCodeToRate(f.BaudCode)));
            text += cells + moduleText(f) + "\n";
        }
        Out(text);
    }
    if (csv) {
        std::string text =
            "address,baud_rate,baud_code,module,collision,tries,status,slow,reply_ms\n";
        for (const TScanFind &f : result.Finds) {
            text += std::to_string(f.Address) + "," + std::to_string(BaudCodeToRate(f.BaudCode)) +
                    "," + std::to_string(f.BaudCode) + ",";
            PutCsvText(text, f.Name);
            char reply[32];
            std::snprintf(reply, sizeof reply, "%.2f", double(f.ReplyTime.count()) / 1000.0);
            text += "," + std::to_string(int(f.Collision)) + "," + std::to_string(f.Tries) + "," +
                    std::to_string(f.Status) + "," + std::to_string(int(f.Slow)) + "," + reply +
                    "\n";
        }
        const bool complete = std::fputs(text.c_str(), csv.get()) >= 0;
        if (std::fclose(csv.release()) != 0 || !complete) {
            Err("--csv: soubor " + cl_.CsvPath + " se nepodařilo zapsat celý.");
            exit = exit == ExitOk ? ExitModule : exit;
        }
    }
    if (result.Ok()) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", elapsed.count());
        std::replace(std::begin(seconds), std::end(seconds), '.', ',');
        std::string rates;
        for (uint8_t code : plan.BaudCodes)
            rates += (rates.empty() ? "" : ", ") + std::to_string(BaudCodeToRate(code));
        if (result.Finds.empty())
            Err("žádný modul neodpověděl (adresy " + AddressListText(plan.Addresses) +
                ", rychlosti " + rates + " Bd; " + seconds + ").");
        else
            Err("nalezeno: " + std::to_string(result.Finds.size()) +
                " (zkoušek: " + std::to_string(probed) + ", " + seconds + ").");
    }
    return exit;
}

// ---- test: the I/O acceptance test ---------------------------------------

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

// The patterns with the outputs wired back to the inputs; the channels'
// verdicts, the report page. The outputs end off whatever ends the test.
int TRun::Test()
{
    const uint32_t interval =
        CommandGiven("--interval") ? Number("--interval", cl_.Interval, 0, 10000) : 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> page{nullptr, std::fclose};
    if (CommandGiven("--report")) {
        page.reset(std::fopen(cl_.ReportPath.c_str(), "w"));
        if (!page)
            Usage("--report: soubor " + Quoted(cl_.ReportPath) + " nelze otevřít pro zápis.");
    }
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::localtime_r(&now, &parts);
    char day[32];
    std::strftime(day, sizeof day, "%Y-%m-%d %H:%M:%S", &parts);
    if (!Connect())
        return ExitModule;

    // Ctrl+C ends the test after the exchange in progress; RunIoTest then
    // still switches the outputs off.
    const TStepReport trace = Reporter(false);
    // The step that failed, for the message: the off write comes after it.
    std::optional<TModuleStep> failed;
    const TStepReport report = [&](const TModuleStep &step) {
        trace(step);
        if (step.Status != 0 && !failed)
            failed = step;
        return !Interrupted.load();
    };
    const int errFd = ::fileno(env_.Err);
    const bool progress = errFd >= 0 && ::isatty(errFd) == 1;
    TIoTestOptions options;
    options.Settle = std::chrono::milliseconds(interval);
    options.Wait = [this](std::chrono::milliseconds d) { return PauseUntil(Now() + d); };
    options.Progress = [&](std::size_t done, std::size_t total) {
        if (progress) {
            std::fprintf(env_.Err, "\rkrok %zu/%zu", done, total);
            std::fflush(env_.Err);
        }
        return true;
    };
    const TIoTestResult r = RunIoTest(Link(), options, report);
    if (progress)
        std::fputs("\r              \r", env_.Err);
    if (trace_)
        trace_->Flush();

    const std::string off = r.OutputsOff ? " Výstupy vypnuty." : " Výstupy se nepodařilo vypnout.";
    int exit = r.Passed() ? ExitOk : ExitMismatch;
    if (r.Module.Outcome == TOutcome::Stopped) {
        Err("přerušeno (Ctrl+C) po " + std::to_string(r.Steps.size()) + " z " +
            std::to_string(r.StepsPlanned) + " kroků zkoušky." + off);
        exit = ExitInterrupted;
    } else if (!r.Module.Ok()) {
        last_ = failed.value_or(last_);
        // The final off write's failure included.
        exit = Failed(r.Module, " Zkouška skončila po " + std::to_string(r.Steps.size()) + " z " +
                                    std::to_string(r.StepsPlanned) + " kroků." + off);
    }

    const char *verdict = VerdictText(r);
    std::size_t failing = 0;
    for (const TChannelVerdict &v : r.Channels)
        failing += v.Fault == TChannelFault::Pass || v.Fault == TChannelFault::Untested ? 0 : 1;
    if (cl_.Json) {
        Json j;
        j["module"] = data_.ModuleName;
        j["address"] = data_.Address;
        j["baud_rate"] = data_.BaudRate;
        j["interface"] = InterfaceJson();
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
        j["failed_channels"] = failing;
        j["passed"] = r.Passed();
        j["verdict"] = verdict;
        Print(j);
    } else {
        std::string text = Pad("Modul", 14) + data_.ModuleName + "\n" + Pad("Negace DIN", 14) +
                           HexText(r.DinNegation) + "\n" + Pad("Negace DOUT", 14) +
                           HexText(r.DoutNegation) + "\n\nKanál  Výsledek        Zjištěno\n";
        for (const TChannelVerdict &v : r.Channels) {
            char number[16];
            std::snprintf(number, sizeof number, "%5d  ", v.Channel);
            text += number + Pad(FaultText(v), 16) + SeenText(v, r) + "\n";
        }
        char timing[96];
        std::snprintf(timing, sizeof timing, "%zu z %zu kroků, %zu výměn, %.2f s", r.Steps.size(),
                      r.StepsPlanned, r.Exchanges, double(r.Duration.count()) / 1e9);
        std::string timingText = timing;
        std::replace(timingText.begin(), timingText.end(), '.', ',');
        text += "\n" + Pad("Zkouška", 14) + timingText + "\n" + Pad("Výsledek", 14) + verdict +
                (failing == 0 ? std::string()
                              : " (nevyhovuje kanálů: " + std::to_string(failing) + " z 32)") +
                "\n";
        Out(text);
    }
    if (page) {
        TReportPage p;
        p.Module = data_.ModuleName;
        p.Date = day;
        p.Interface = InterfaceText();
        p.Address = data_.Address;
        p.BaudRate = data_.BaudRate;
        p.IntervalMs = interval;
        const std::string html = AcceptanceHtml(p, r);
        const bool complete = std::fputs(html.c_str(), page.get()) >= 0;
        if (std::fclose(page.release()) != 0 || !complete) {
            Err("--report: soubor " + cl_.ReportPath + " se nepodařilo zapsat celý.");
            exit = exit == ExitOk ? ExitModule : exit;
        }
    }
    return exit;
}

} // namespace

int RunKorvalctl(int argc, const char *const *argv, const TCliEnvironment &env)
{
    Interrupted.store(false);
    if (env.HandleSignals)
        InstallSignalHandlers();
    DrvSetLibraryDirectory(env.ProgramDirectory);

    TCommandLine cl;
    CLI::App app{"Konfigurace a test modulů digitálních vstupů a výstupů z příkazové řádky.",
                 "korvalctl"};
    BuildCommandLine(app, cl);
    BuildTestCommand(app, cl);
    auto usage = [&](const std::string &message) {
        std::fprintf(env.Err, "korvalctl: %s %s Nápověda: korvalctl --help\n", message.c_str(),
                     NothingSent);
        return int(ExitUsage);
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), env.Out);
        return ExitOk;
    } catch (const CLI::CallForAllHelp &) {
        std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), env.Out);
        return ExitOk;
    } catch (const CLI::CallForVersion &e) {
        std::fprintf(env.Out, "%s\n", e.what());
        return ExitOk;
    } catch (const CLI::ParseError &e) {
        return usage(ParseErrorText(app, e));
    }
    // The leaf command: "config" always has one below it.
    for (CLI::App *level = &app; !level->get_subcommands().empty();)
        cl.Command = level = level->get_subcommands().front();

    try {
        RefuseEmptyValues(app);
        TRun run(env, cl, app);
        return run.Go();
    } catch (const TUsageError &e) {
        return usage(e.what());
    } catch (const TInterruptedError &e) {
        std::fprintf(env.Err, "korvalctl: %s %s\n", e.what(), NothingSent);
        return int(ExitInterrupted);
    }
}

int KorvalctlMain(int argc, const char *const *argv)
{
    TCliEnvironment env;
    env.ProgramDirectory = platform::ExecutableDirectory();
    return RunKorvalctl(argc, argv, env);
}
