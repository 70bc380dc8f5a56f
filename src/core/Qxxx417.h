// Binding to the driver library of the chosen interface kind, and the one
// request/response exchange with a module that every window uses.
//
// One library is loaded at a time, held in state of this unit; everything
// runs on the user-interface thread.
#pragma once

#include "Dekl.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

// Status codes raised by the binding itself (the library's own are 1..99).
inline constexpr int32_t DrvNotComposed = 9;  // ModuleCall: request not composed
inline constexpr int32_t DrvNotLoaded = 10;   // kind above 4, or no entry loaded
inline constexpr int32_t DrvLoadFailed = 100; // + kind: library did not load
inline constexpr int32_t DrvBadLibrary = 110; // + kind: an entry point is missing

// Module commands and sub-commands.
enum : uint8_t {
    CmdReadInputs = 0,   // sub SubChannels; D0..D3 = DIN0..31
    CmdWriteOutputs = 1, // sub SubChannels; D0..D3 = DOUT0..31
    CmdReadStatus = 100, // D0..D3 = status register bits 0..31
    CmdClearStatus = 101,
    CmdReadRegister = 102,  // D0 = D1 = register; answer D2 = value
    CmdWriteRegister = 103, // D0 = D1 = register; D2 = D3 = value
    CmdReadIdentity = 200,  // sub 0, 1: name characters 1-4, 5-8; sub 2: version
};
inline constexpr uint8_t SubChannels = 64;
inline constexpr uint8_t SubNone = 0;

// Configuration registers; group n = 0..3 holds channels 8n..8n+7.
inline constexpr uint8_t RegDoutInitState(int n)
{
    return uint8_t(32 + 3 * n);
}
inline constexpr uint8_t RegDinNegation(int n)
{
    return uint8_t(33 + 3 * n);
}
inline constexpr uint8_t RegDoutNegation(int n)
{
    return uint8_t(34 + 3 * n);
}
inline constexpr uint8_t RegBaudCode = 62;
inline constexpr uint8_t RegAddress = 63;

// Loads the kind's library (unloading any library still loaded), checks
// all seven entries and calls its Init. Returns Init's status, 10 for a
// kind above 4, 100 + kind when the library does not load and 110 + kind
// when it lacks an entry. For kind 4, Params[0] and [3] carry the address
// of the IP text (q417_params_set_text). Params[Q417_PARAM_GUARD] is the
// silence guard in us for any kind (q417drv.h): a library of ours refuses
// a value out of range with 2 and the connection is not opened; another
// library ignores it.
int32_t DrvInit(uint8_t Kind, int32_t &Handle, TInitParams Params);

int32_t DrvSetConfig(uint8_t Kind, int32_t Handle, uint32_t Rate, uint32_t TimeOut,
                     int32_t Retries);

// The library works on the binding's own arrays, far longer than 100
// elements, so whatever it writes past element 99 never reaches the
// caller. Reply receives elements 0..99 of the library's reply array;
// elements the library did not write are 0 unless an earlier call's
// library wrote them.
int32_t DrvSend(uint8_t Kind, int32_t Handle, const TDataArray &Request, TDataArray &Reply,
                int32_t &XOut, int32_t &Status);

// Calls Done, then unloads the library whatever Done returned.
int32_t DrvDone(uint8_t Kind, int32_t &Handle);

// Text for any status code. Codes below 100 are the loaded library's; with
// no library loaded the result is 10 and Text is left as it was. A
// library's text is taken as for Reply above and cut to end at element 99.
int32_t DrvErrorText(uint8_t Kind, uint32_t Code, TDataArray &Text);

// A reply that came after its exchange had given up (q417drv.h, Late).
struct TLateReply {
    uint8_t Address = 0;
    uint32_t Rate = 0; // Bd, at which its request went
    std::chrono::microseconds After{}; // from the request's sending to the reply
};

// The late replies the connection has heard since the last call, oldest
// first, listening up to WaitMs (0..60000) while it has none. 10 when the
// loaded library has no Late entry: it drops late replies, as the family's
// other drivers do, and the caller must do without them.
int32_t DrvLate(uint8_t Kind, int32_t Handle, uint32_t WaitMs, std::vector<TLateReply> &Replies);

// Directory searched first for driver libraries, the executable's own by
// default; the system's library directories follow (Platform.h).
void DrvSetLibraryDirectory(const std::filesystem::path &directory);

// One exchange with the module at Address. With Handle 0 nothing happens.
// Status 0: X and D0..D3 hold the answer. Otherwise X and D0..D3 are 0 and
// Status holds the code, 255 for a code that does not fit 8 bits.
void ModuleCall(uint8_t Kind, int32_t Handle, uint8_t Address, uint8_t Cmd, uint8_t Sub, uint8_t &X,
                uint8_t &D0, uint8_t &D1, uint8_t &D2, uint8_t &D3, uint8_t &Status,
                TDataArray &Reply);
