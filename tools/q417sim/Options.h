// Command line of the module simulator.
#pragma once

#include "BusTiming.h"
#include "SimModule.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace q417sim {

struct ModuleSpec {
    uint8_t address = 1;
    uint8_t baudCode = 4;
    SimModule::Identity id = SimModule::DefaultIdentity();
    std::optional<bus::Duration> turnaround; // its own, slower or faster than --turnaround
};

// Share of replies (or requests) a fault hits, in percent 0..100.
struct Faults {
    double dropRequests = 0;
    double drop = 0;
    double duplicate = 0;
    double corrupt = 0;
    double delay = 0;
    unsigned delayMs = 0;
};

struct Options {
    std::vector<ModuleSpec> modules; // empty on the command line: one default module
    bool udp = true;
    uint16_t udpPort = 5000;
    bool pty = false;
    std::string link;
    InputSource inputs = InputSource::Loopback;
    uint32_t fixedInputs = 0;
    ChannelFaults channels;     // --stuck, --swap: for every module
    bool channelFaults = false; // any given (only loopback takes them)
    Faults faults;
    bus::Timing timing; // real wire time unless --timing none
    std::optional<uint32_t> seed;
    bool verbose = false;
};

enum class Parsed { Run, Help, Error };

// Fills `out`; on Error, `error` says which argument was wrong.
Parsed ParseOptions(int argc, char **argv, Options &out, std::string &error);

const char *Usage();

} // namespace q417sim
