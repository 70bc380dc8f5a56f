// The module finder: which addresses answer at which of the nine rates, for
// a module whose address and baud code nobody remembers.
//
// A scan opens its own connection, sets one rate after another and at each
// rate probes the addresses in order with the first exchange of the
// identity read (command 200, sub 0). It only reads: no request it sends
// changes a module. A module that answers then has its whole identity read
// for its name and version.
//
// Order of the rates: a module leaves the factory at 9600 Bd, so one of
// unknown history most likely still runs there; 19200 and 115200 Bd are the
// rates a technician usually moves it to, then 57600 and 38400. The slow
// rates come last: they are rare on a bus, and an empty probe at 600 Bd
// waits 387 ms against 5 ms at 115200 Bd, so a scan that stops at its first
// find seldom pays for them.
//
// Time-out of a probe: an address with nobody behind it costs the whole
// time-out, so it is the least a reply can take and no more: the request's
// and the reply's wire time at the rate (23 bytes of 10 bits), the module's
// turnaround, and a margin for what lies between the program and the wire
// (ProbeTimeout). The drivers take whole milliseconds, so it is rounded up
// once, in DriverTimeoutMs. A 256-address scan of all nine rates then takes
// some 3.5 minutes instead of the 38 a 1 s time-out gives.
//
// Late replies: a module that answers after its probe's time-out (a slow
// controller, a USB adapter's latency timer, a loaded PC, a converter on a
// busy network) must never be reported absent. Our drivers keep a reply
// that comes after its exchange gave up (DrvLate), and the scan hears them
// during its later probes. At the end of each rate it listens for one late
// window more, until a reply LateAllowance later than its probe's time-out
// would have come, then re-probes every address that answered late with a
// time-out long enough for a slow module (SlowProbeTimeout) and without the
// silence guard, and reads its identity at that pace. Such a find is marked
// slow with the reply time it measured. Other probes keep their speed: the
// full sweep pays nine late windows, about a second in two minutes, and
// each late module one probe at its own pace. A driver without late
// replies scans as before.
//
// Collisions: two modules at one address and rate answer on top of each
// other, and their replies (the names differ) arrive damaged. A damaged
// reply is tried again up to Retries times, since noise damages one reply
// and not the next; when no try at an address gets a clean answer but one
// got a damaged reply, the address is reported as a probable collision,
// never dropped. So is a module whose identity read never passes for
// damaged replies: names that begin alike answer the probe cleanly and
// collide further on. Modules alike in name and version overlay into one
// clean reply and are found as one.
#pragma once

#include "Dekl.h"
#include "Module.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a probe may add to the wire time before its reply is in the
// program's hands: a loopback or switched LAN round trip (well below 1 ms),
// the converter's own forwarding, and the program being woken late on a
// busy machine (up to about a millisecond). A serial adapter on USB may
// hold a short reply back longer than that (its latency timer): raise the
// margin for one.
inline constexpr std::chrono::microseconds DefaultScanMargin{2000};
inline constexpr unsigned DefaultScanRetries = 2;
// The silence guard a scan asks of a LAN converter or an in-process
// module: they know for certain whether anyone answered, so the guard only
// has to cover the network and the program being woken. A COM driver has
// to guess from the line, where a USB adapter may hold a reply's first byte
// back for milliseconds: a guard too short there loses modules, so a COM
// scan asks for none unless told.
inline constexpr std::chrono::microseconds DefaultScanGuard{300};
std::chrono::microseconds DefaultScanGuardFor(uint8_t kind);
// How much later than its probe's time-out a reply is still waited for at
// the end of a rate: a USB adapter's 16 ms, a slow module's tens of ms, a
// network's hiccup. Replies later still are heard too when later probes of
// the rate are still running.
inline constexpr std::chrono::microseconds DefaultLateAllowance{100000};
// What a re-probe of a late address waits beyond its probe's time-out, at
// the least: a module up to a quarter of a second slower than the bus's
// others is heard whole.
inline constexpr std::chrono::microseconds SlowProbeExtra{250000};

// 9600, 19200, 115200, 57600, 38400, 4800, 2400, 1200, 600 Bd as baud codes
// (the reasons above).
std::vector<uint8_t> DefaultScanBaudCodes();
// 0..255.
std::vector<uint8_t> AllScanAddresses();

struct TScanOptions {
    std::vector<uint8_t> Addresses = AllScanAddresses();     // probed in this order
    std::vector<uint8_t> BaudCodes = DefaultScanBaudCodes(); // 0..8; others are skipped
    std::chrono::microseconds Margin = DefaultScanMargin;
    // The modules' turnaround (bus::DefaultTurnaround).
    std::chrono::microseconds Turnaround{1000};
    // False when replies take no wire time: a driver run with
    // Q417_TIMING=none, the simulator with `--timing none`. The time-out is
    // then the margin alone.
    bool WireTimed = true;
    // Further tries at an address after a damaged reply (status 6 or 7),
    // and of a found module's identity read when it fails.
    unsigned Retries = DefaultScanRetries;
    bool StopAtFirst = false;
    // The drivers' silence guard (0: off): a driver that knows it reports
    // an empty address once the reply's first byte is overdue by this much,
    // instead of at the time-out, so an empty probe costs about
    // (13 x 10 / R) + t + Guard instead of the whole time-out. A driver
    // without it keeps the time-out; the result is the same either way.
    std::chrono::microseconds Guard{0};
    // The late window at the end of each rate (0: none; late replies heard
    // during later probes are still re-probed).
    std::chrono::microseconds LateAllowance = DefaultLateAllowance;
};

// Where the scan connects; it opens and closes the connection itself.
struct TScanLink {
    uint8_t Kind = ifLan;
    // As DrvInit takes them for kinds 0 and 1 ([0] COM port or ISA base
    // address); unused by the other kinds.
    TInitParams Params{};
    std::string IpAddress; // kind 4
    uint16_t UdpPort = 0;  // kind 4
};

struct TScanFind {
    uint8_t Address = 0;
    uint8_t BaudCode = 0;
    // "XXXXXXXX v.YYYY"; empty when the identity read did not pass (a
    // collision, a module that refused command 200, a reply lost each try).
    std::string Name;
    bool Collision = false; // damaged replies only: probably several modules
    uint8_t Status = 0;     // the module's refusal code (20..23), else 0
    unsigned Tries = 0;     // probes at this address and rate
    // Answered only after its probe's time-out, and found by a re-probe.
    bool Slow = false;
    // From the sending of the probe that found it to its reply.
    std::chrono::microseconds ReplyTime{};
};

// What a find's line says beside its name: "kolize (odpovídá asi více
// modulů najednou)", "odpověď se zpožděním N ms" (N: how much later than a
// module of the bus's own turnaround), or empty.
std::string ScanFindNote(const TScanFind &find, const TScanOptions &options);
// How much later than expected a slow find answered, in whole ms (at least 1).
long long SlowFindDelayMs(const TScanFind &find, const TScanOptions &options);

enum class TScanOutcome {
    Done,        // every probe made, or the first find with StopAtFirst
    Stopped,     // a callback returned false
    DriverError, // Status and Stage tell which call failed
};

enum class TScanStage { None, Init, SetConfig, Probe };

struct TScanResult {
    TScanOutcome Outcome = TScanOutcome::Done;
    uint8_t Status = 0; // the driver's code for DriverError
    // Its text, taken while the driver was still loaded (the scan unloads
    // it when it closes the connection).
    std::string StatusText;
    TScanStage Stage = TScanStage::None;
    uint8_t BaudCode = 0;         // the rate at which it ended, when not done
    std::vector<TScanFind> Finds; // in the order found, kept whatever the outcome
    bool Ok() const { return Outcome == TScanOutcome::Done; }
};

struct TScanProgress {
    uint8_t BaudCode = 0;
    uint8_t Address = 0;   // just probed
    std::size_t Done = 0;  // addresses probed so far, over all rates
    std::size_t Total = 0; // addresses × rates
    std::size_t Found = 0;
    std::chrono::nanoseconds Elapsed{};
    // The probes left at their time-outs (an empty probe costs the whole
    // time-out), each with what the probes so far took beyond theirs.
    std::chrono::nanoseconds Left{};
    // The finds so far, in the order found; valid during the call only.
    const std::vector<TScanFind> *Finds = nullptr;
};

// After each address. Returning false stops the scan before the next probe.
using TScanReport = std::function<bool(const TScanProgress &)>;

// The time-out of one probe at `rate` Bd: wire time of request and reply,
// turnaround and margin (the margin alone when not wire-timed).
std::chrono::microseconds ProbeTimeout(uint32_t rate, std::chrono::microseconds turnaround,
                                       std::chrono::microseconds margin, bool wireTimed = true);
// Rounded up to whole milliseconds, within the drivers' 1..60000 ms.
uint32_t DriverTimeoutMs(std::chrono::microseconds timeout);
uint32_t ProbeTimeoutMs(const TScanOptions &options, uint8_t baudCode);

// The least a plan can take on the wire: per rate, every address probed
// once with nobody answering takes request, turnaround and reply time.
std::chrono::nanoseconds ScanWireFloor(const TScanOptions &options);
// What the plan waits for in time-outs and late windows when nobody
// answers: the cost the progress estimate starts from.
std::chrono::nanoseconds ScanTimeoutTotal(const TScanOptions &options);
// What one empty probe at `baudCode` is expected to cost: its time-out, or
// with a guard the first-byte deadline plus the guard when that is sooner.
std::chrono::nanoseconds EmptyProbeCost(const TScanOptions &options, uint8_t baudCode);
// The late window at the end of a rate beyond its last probe: until a
// reply LateAllowance later than that probe's time-out would have come.
std::chrono::nanoseconds LateWindowCost(const TScanOptions &options, uint8_t baudCode);
// A re-probe's time-out after a late reply heard `heard` after its probe:
// the probe's time-out and SlowProbeExtra, or twice what the reply took
// when that is longer; whole ms for the drivers.
uint32_t SlowProbeTimeoutMs(const TScanOptions &options, uint8_t baudCode,
                            std::chrono::microseconds heard);

// The scan's link to the record's interface: its COM port, ISA base or
// LAN address and port.
TScanLink ScanLinkOf(const TData &data);
// False when the drivers were told to answer at once (Q417_TIMING=none in
// the environment), so a plan waits for no wire time.
bool DriversWireTimed();

// Every exchange goes to `step` (probes as one-step operations, identity
// reads as their three steps); a false from either callback stops the scan.
TScanResult ScanModules(const TScanLink &link, const TScanOptions &options,
                        const TStepReport &step = {}, const TScanReport &progress = {});
