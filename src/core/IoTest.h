// The I/O acceptance test of a module whose outputs are wired back to its
// inputs (a test fixture, terminal DOUTn to terminal DINn): patterns
// written to the outputs, the inputs read back after each, and from all
// of them a verdict per channel.
//
// Every exchange goes through the TStepReport callback; returning false
// stops the test after that exchange. Whatever ends it (done, a driver
// error, a stop), a last WriteOutputs(0) is attempted, so the module is
// left with every output off.
#pragma once

#include "Module.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// One pattern: the word written, the input word the wiring should give
// back, and what came back.
struct TIoStep {
    uint32_t Written = 0;
    uint32_t Expected = 0;
    uint32_t Seen = 0;
};

enum class TChannelFault {
    Pass,
    StuckAt0,     // the terminal level never left 0
    StuckAt1,     // ... never left 1
    Follows,      // input n shows the level of output Source (crossed wires)
    Inconsistent, // wrong in some steps, in no pattern above
    Untested,     // right so far, but the test ended before its last step
};

struct TChannelVerdict {
    int Channel = 0;
    TChannelFault Fault = TChannelFault::Pass;
    int Source = -1;            // Follows: the output driving this input
    std::size_t Wrong = 0;      // steps whose input bit differed from the expected
    std::size_t FirstWrong = 0; // 1-based index into Steps, 0 when none
};

struct TIoTestResult;

struct TIoTestOptions {
    // Between each write and the read of the inputs; a fixture with relays
    // or slow opto-couplers needs a few ms.
    std::chrono::milliseconds Settle{0};
    // Waits Settle; false stops the test. Empty: a plain sleep.
    std::function<bool(std::chrono::milliseconds)> Wait;
    // After each pattern, with the result so far (the negations, the steps
    // done, the steps planned) for a display that fills as the test runs.
    // False stops the test.
    std::function<bool(const TIoTestResult &)> Progress;
};

struct TIoTestResult {
    // How the sequence ended: Done, DriverError or Stopped (with the step
    // of its own operation in Step).
    TModuleResult Module;
    uint32_t DinNegation = 0, DoutNegation = 0;
    uint32_t StatusBefore = 0, StatusAfter = 0;
    bool StatusAfterRead = false;
    std::vector<TIoStep> Steps; // the patterns done, in order
    std::size_t StepsPlanned = 0;
    std::array<TChannelVerdict, 32> Channels{};
    std::size_t Exchanges = 0;               // sent to the module, the final off included
    bool OutputsOff = false;                 // the final WriteOutputs(0) passed
    std::chrono::nanoseconds Duration{};     // first exchange to last
    std::chrono::nanoseconds ExchangeTime{}; // the exchanges' own time, summed

    // Every pattern written and read back (the channels then have a
    // verdict each), whatever came after.
    bool Complete() const { return Steps.size() == StepsPlanned; }
    bool Passed() const;
};

// The patterns in order: walking one over DOUT0..31, walking zero, all
// on, all off.
std::vector<uint32_t> IoTestPatterns();

// What the inputs read when the outputs, written as `written`, drive them
// terminal to terminal: an output's terminal level is its bit through the
// output negation, the input reads that level through its own negation.
uint32_t LoopbackInputs(uint32_t written, uint32_t doutNegation, uint32_t dinNegation);

// The per-channel verdicts from the patterns done. `complete`: the whole
// sequence ran, so a channel never wrong passes.
std::array<TChannelVerdict, 32> IoTestVerdicts(const std::vector<TIoStep> &steps,
                                               uint32_t doutNegation, uint32_t dinNegation,
                                               bool complete);

// Reads the negation registers and the status register, runs the
// patterns, writes the outputs off, reads the status register again. The
// module's identity is the caller's (read when it connected).
TIoTestResult RunIoTest(const TModuleLink &link, const TIoTestOptions &options = {},
                        const TStepReport &report = {});
