// What every korvalctl command stands on: the connection (the settings
// file with the command line's overrides, the driver opened and always
// closed, its status texts), the output (results on stdout, messages on
// stderr, --json, --trace) and the exit code of a failed operation. One
// session runs one command; the commands live in Cmd*.cpp, one file per
// family, each command with its own entry.
#pragma once

#include "CommandLine.h"
#include "Dekl.h"
#include "ExitCodes.h"
#include "Korvalctl.h"
#include "Module.h"
#include "TraceFile.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace cli
{

using Json = nlohmann::ordered_json;

// Ctrl+C while a profile is still being read from stdin: exit 130, nothing
// sent.
struct TInterruptedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class TSession
{
  public:
    TSession(const TCliEnvironment &env, const TCommandLine &cl, CLI::App &app);
    ~TSession(); // closes the driver, then the trace
    TSession(const TSession &) = delete;
    TSession &operator=(const TSession &) = delete;

    const TCommandLine &Line() const { return cl_; }
    // A global option given on the command line.
    bool Given(const char *name) const;
    // An option of the command itself rather than a global one.
    bool CommandGiven(const char *name) const;

    // ---- Connection ----------------------------------------------------
    // The settings file with the command line's values over it, checked as
    // the connection dialog checks them; a bad value is a usage error.
    void ResolveConnection();
    TData Data{};
    uint8_t BaudCode = 4; // of Data.BaudRate
    TModuleLink Link() const { return {Data.Kind, handle_, Data.Address}; }
    // The settings file `use` writes: --settings, or the program's.
    SettingsFiles Files() const;
    // Writes Data's connection into `files`; false, with the message, when
    // it cannot (the file then keeps its old content).
    bool SaveSettings(const SettingsFiles &files);
    // Init and SetConfig: the bus, with no module asked yet. Opens the trace.
    bool OpenBus();
    // OpenBus and the module's identity, as the connection dialog connects.
    bool Connect();
    // The driver's text for a status code, kept once asked (the driver may
    // be gone when a text is printed).
    std::string StatusText(int32_t status);
    // "LAN konvertor LX-1417, 127.0.0.1:5000" and its JSON object.
    std::string InterfaceText() const { return ::InterfaceText(Data); }
    Json InterfaceJson() const;

    // ---- Exchanges -----------------------------------------------------
    // Traces every step and keeps the last one for the error message. A
    // long operation stops at Ctrl+C after the exchange in progress; a
    // register write only after its read-back (`registerPairs`), so no
    // register is left unchecked.
    TStepReport Reporter(bool stopOnInterrupt, bool registerPairs = false);
    TModuleStep Last{}; // the last exchange, for messages
    // "krok 3/14 (čtení registru 33 ...)" of Last.
    std::string WhereText() const;
    // The message of a failed operation on stderr, with `context` after
    // it, and its exit code; ExitOk for a result that passed.
    int Failed(const TModuleResult &result, const std::string &context = {});

    // ---- Output --------------------------------------------------------
    void Out(const std::string &s);
    // "korvalctl: " and the message on stderr.
    void Err(const std::string &s);
    void Print(const Json &j);     // one document, indented
    void PrintLine(const Json &j); // one object a line (--watch, walk)
    bool OutBroken() const { return std::ferror(env_.Out) != 0; }
    std::FILE *ErrStream() const { return env_.Err; }
    // Opened only once the command's own arguments have passed, so a bad
    // command line leaves no empty trace file behind.
    void OpenTrace();
    // An exchange not made through Reporter (the scan's probes).
    void Trace(const TModuleLink &link, const TModuleStep &step, const std::string &statusText);
    void FlushTrace();

    // ---- Time ----------------------------------------------------------
    // The environment's clock and wait, or the steady clock and a wait
    // that Ctrl+C ends (false).
    std::chrono::steady_clock::time_point Now() const;
    bool PauseUntil(std::chrono::steady_clock::time_point until) const;

  private:
    const TCliEnvironment &env_;
    const TCommandLine &cl_;
    CLI::App &app_;

    std::FILE *traceFile_ = nullptr;
    std::unique_ptr<TTrace> trace_;
    bool driverTried_ = false;
    int32_t handle_ = 0;
    TDataArray text_{};
    std::map<int32_t, std::string> texts_;
};

} // namespace cli
