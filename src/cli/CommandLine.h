// korvalctl's command line: its options and commands (CLI11, help in
// Czech), and the checks of their values, all made before a driver is
// loaded. Each check returns the value or throws TUsageError with a Czech
// message naming the option and the accepted range.
#pragma once

#include "ConfigText.h"
#include "Module.h"
#include "Text.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli
{

// What the command line gave, each value as typed; a check turns it into
// a value when the command needs it.
struct TCommandLine {
    CLI::App *Command = nullptr; // the chosen leaf command
    std::string Interface, Port, Base, Ip, UdpPort, Timeout, Address, Baud;
    std::string SettingsPath, TracePath, TraceFormat = "text";
    bool Json = false;
    std::vector<std::string> Items; // config set
    std::string OutputsText, Interval, Count;
    bool DryRun = false, Watch = false, Clear = false;
    // scan
    std::string Addresses, Rates, Margin, Guard, LateWindow, Retries, CsvPath;
    bool First = false, UseFound = false;
    // config save, diff, restore, clone
    std::string ProfilePath, CloneTo;
    bool WithAddress = false;
    // test
    std::string ReportPath, Tester, Serial, Note;
};

struct TCommands {
    CLI::App *Info, *Config, *Show, *Set, *Inputs, *Outputs, *Walk, *Status, *Use, *Scan;
    CLI::App *Save, *Diff, *Restore, *Clone;
};

// Declares every option and command on `app`, bound to `cl`.
TCommands BuildCommandLine(CLI::App &app, TCommandLine &cl);
// config save, diff, restore and clone below `config`.
void BuildProfileCommands(TCommands &c, TCommandLine &cl);
// The acceptance test `test` on `app`.
CLI::App *BuildTestCommand(CLI::App &app, TCommandLine &cl);
// A failed parse of `app`'s command line in Czech: what is missing or
// unknown, named as the help names it.
std::string ParseErrorText(CLI::App &app, const CLI::ParseError &e);
// Usage error for an option or argument given as "": a value left empty
// is never taken as the default.
void RefuseEmptyValues(const CLI::App &app);

struct TUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Usage(const std::string &message);

// Decimal digits only, within min..max.
uint32_t Number(std::string_view option, std::string_view text, uint32_t min, uint32_t max);
// One of the nine module rates in Bd.
uint32_t Rate(std::string_view option, std::string_view text);
// "0x" and one to eight hex digits.
uint32_t HexWordValue(std::string_view option, std::string_view text);
// The ISA base, three hex digits at most: "300", "0x300" or "300h".
uint16_t IsaBase(std::string_view text);
// Addresses 0..255 as "1-32,100": ascending, each once, whatever the
// order and overlaps typed.
std::vector<uint8_t> AddressList(std::string_view option, std::string_view text);
// Rates as "9600,19200", as baud codes in the order typed, each once.
std::vector<uint8_t> BaudCodeList(std::string_view option, std::string_view text);
// Milliseconds with up to three decimals ("2", "0.5", "0,5"), within
// min..max.
std::chrono::microseconds Milliseconds(std::string_view option, std::string_view text,
                                       std::chrono::microseconds min,
                                       std::chrono::microseconds max);
// "2", "0.5": milliseconds, decimals only where there are any.
std::string MillisecondsText(std::chrono::microseconds us);
// A dotted quad, each part decimal 0..255 of at most three digits.
bool IsIpv4(std::string_view text);
// An outputs word: "0x0000000F", a channel list "0,3,5-7", or "none".
uint32_t OutputsValue(std::string_view text);

// Part of a configuration byte that config set changes.
struct TChange {
    std::size_t Byte;
    uint8_t Mask;  // the bits of Byte the change sets
    uint8_t Value; // within Mask
};

// config set's KEY=VALUE items, in their order (a later item wins).
std::vector<TChange> ParseChanges(const std::vector<std::string> &items);

// The registers' texts are the core's (ConfigText.h), which the windows
// show too.
using ::RegisterText;
using ::RegisterValueText;

} // namespace cli
