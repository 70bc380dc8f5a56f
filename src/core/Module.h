// The operations the windows run on a module, as sequences of exchanges
// with no toolkit in them, so a window and a command-line tool run the same
// exchanges in the same order.
//
// Every operation reports each exchange through a callback, passed or not,
// and stops at the first step that fails. What happens between steps (a
// window lets the toolkit run and pauses, a tool prints a trace line) is the
// callback's business.
#pragma once

#include "Dekl.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

inline constexpr uint8_t BaudCodeCount = 9;

// Baud-rate codes 0..8 (the module's own code, and the position in the
// speed lists) to rates and back; every fallback lands on 9600 Bd.
uint32_t BaudCodeToRate(uint8_t code);
uint8_t RateToBaudCode(uint32_t rate);
// The reply time-out handed to the driver with the rate of a code.
uint32_t BaudCodeTimeout(uint8_t code);

// Byte i (0..13) of the configuration image, in the order of TModuleConfig.
uint8_t &ConfigByte(TModuleConfig &c, std::size_t i);
uint8_t ConfigByte(const TModuleConfig &c, std::size_t i);

// One register of a sequence and the configuration byte it carries.
struct TRegisterStep {
    uint8_t Register;
    std::size_t Byte;
};

// The address first, so a failed address leaves the code untouched.
std::span<const TRegisterStep> AddressRegisters();
// Setting by setting (power-up state, input negation, output negation),
// within a setting group by group.
std::span<const TRegisterStep> ChannelRegisters();

// Which module, through which loaded driver; taken once per operation.
struct TModuleLink {
    uint8_t Kind = 0;
    int32_t Handle = 0;
    uint8_t Address = 0;
};

// One exchange of an operation, as sent and as answered.
struct TModuleStep {
    std::size_t Number = 0; // 1-based
    std::size_t Total = 0;
    std::string What; // Czech, e.g. "zápis registru 62 (rychlost) = 4"
    uint8_t Address = 0; // the module's the request went to
    uint8_t Cmd = 0;
    uint8_t Sub = 0;
    uint8_t RequestX = 0;             // 0 but in the identity's second and third
    std::array<uint8_t, 4> Request{}; // D0..D3 sent
    uint8_t X = 0;                    // the answer, 0 on a failed exchange
    std::array<uint8_t, 4> Reply{};
    uint8_t Status = 0;    // the driver's code, 0 for a good answer
    bool Mismatch = false; // a read-back that differs from what was written
    // When the request went out (wall clock, for a trace) and how long the
    // exchange took (monotonic clock).
    std::chrono::system_clock::time_point Started{};
    std::chrono::nanoseconds Duration{};

    bool Passed() const { return Status == 0 && !Mismatch; }
};

// Called after every step. Returning false ends the operation at once and
// sends nothing more: its caller (a window) is gone.
using TStepReport = std::function<bool(const TModuleStep &)>;

enum class TOutcome {
    Done,
    DriverError, // Status holds the code
    Mismatch,    // Register read back other than written
    Stopped,     // the callback returned false
};

struct TModuleResult {
    TOutcome Outcome = TOutcome::Done;
    uint8_t Status = 0;
    std::size_t Step = 0; // the step that ended the operation; 0 when done
    uint8_t Register = 0; // for a register step that ended it
    bool Ok() const { return Outcome == TOutcome::Done; }
};

// One exchange, as an operation of one step (Number and Total 1): the
// request X and D0..D3, the answer or the driver's status, when it went out
// and how long it took. Every operation below is made of these.
TModuleStep ExchangeStep(const TModuleLink &link, std::string what, uint8_t cmd, uint8_t sub,
                         std::array<uint8_t, 4> request = {}, uint8_t requestX = 0);

// The three identity reads of the connection dialog; each request carries
// the X of the previous answer (the first 0). Name is the module's
// name and version ("XXXXXXXX v.YYYY") in UTF-8, set only when all three
// pass.
TModuleResult ReadIdentity(const TModuleLink &link, std::string &name,
                           const TStepReport &report = {});

// Opens the record's connection as the connection dialog does: DrvInit with
// the record's InitParams, DrvSetConfig at `baudCode`, then the identity of
// the module at `address`. On success the record holds the handle, the
// module's name, the address and rate, and "V pořádku". When SetConfig or
// the identity read fails the driver is closed again and the record left
// disconnected; a failed Init leaves the record's handle as it was. Every
// call's text is taken right after it, so the failing call's is the last.
enum class TConnectStage { Done, Init, SetConfig, Identity };
struct TConnectResult {
    TConnectStage Stage = TConnectStage::Done;
    int32_t Status = 0;
    std::string StatusText;
    bool Ok() const { return Stage == TConnectStage::Done; }
};
TConnectResult ConnectRecord(TData &data, uint8_t address, uint8_t baudCode, TDataArray &text,
                             const TStepReport &report = {});
// Closes the record's connection when it has one (DrvDone; the handle as
// Done leaves it), so that another may open.
void CloseRecord(TData &data);
// The record's InitParams from its interface fields (COM port, ISA base,
// LAN address, port and time-out), as the connection dialog sets them.
void FillInitParams(TData &data);

// One read per register, in the order of `registers`; each value goes into
// its byte of C as soon as it is read, so after a failure C holds what was
// read before it.
TModuleResult ReadRegisters(const TModuleLink &link, std::span<const TRegisterStep> registers,
                            TModuleConfig &C, const TStepReport &report = {});

// Per register a write, then a read-back that must return the value
// written: 2 steps a register. A write that fails or reads back otherwise
// ends the operation with the registers before it written.
TModuleResult WriteRegisters(const TModuleLink &link, std::span<const TRegisterStep> registers,
                             const TModuleConfig &C, const TStepReport &report = {});

// DIN0..31 and the status register bits 0..31 as words, bit n for channel
// or bit n; unchanged after a failure.
TModuleResult ReadInputs(const TModuleLink &link, uint32_t &word, const TStepReport &report = {});
TModuleResult ReadStatus(const TModuleLink &link, uint32_t &word, const TStepReport &report = {});

TModuleResult WriteOutputs(const TModuleLink &link, uint32_t word, const TStepReport &report = {});
TModuleResult ClearStatus(const TModuleLink &link, const TStepReport &report = {});

// The text of a status code, as the loaded driver or the binding gives it,
// read back from `text` (with no library loaded `text` keeps what it held,
// so each window passes its own array).
std::string StatusCodeText(uint8_t kind, int32_t status, TDataArray &text);
