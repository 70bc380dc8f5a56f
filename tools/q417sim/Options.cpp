#include "Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <getopt.h>
#include <string_view>

namespace q417sim {

namespace {

// Whole text must be a number in [min, max]; no sign, no spaces.
template <typename T>
std::optional<T> ParseNumber(std::string_view text, T min, T max, int base = 10)
{
    if (text.empty())
        return std::nullopt;
    unsigned long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (v < static_cast<unsigned long long>(min) || v > static_cast<unsigned long long>(max))
        return std::nullopt;
    return static_cast<T>(v);
}

std::optional<double> ParsePercent(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v) || v < 0 ||
        v > 100)
        return std::nullopt;
    return v;
}

// ADDR[:BAUD[:NAME[:TURNAROUND]]]; NAME replaces the identity's 8 name
// characters, so that modules sharing an address can answer an identity
// read differently (empty: the default name); TURNAROUND, in ms, makes one
// module slower (or faster) than the bus's others.
bool ParseModule(std::string_view text, ModuleSpec &out)
{
    out = ModuleSpec{};
    const auto colon = text.find(':');
    const auto address = ParseNumber<uint8_t>(text.substr(0, colon), 0, 255);
    if (!address)
        return false;
    out.address = *address;
    if (colon == std::string_view::npos)
        return true;
    text.remove_prefix(colon + 1);
    const auto nameColon = text.find(':');
    // The module refuses a code above 8 in its baud register.
    const auto baud = ParseNumber<uint8_t>(text.substr(0, nameColon), 0, 8);
    if (!baud)
        return false;
    out.baudCode = *baud;
    if (nameColon == std::string_view::npos)
        return true;
    text.remove_prefix(nameColon + 1);
    const auto turnaroundColon = text.find(':');
    const std::string_view name = text.substr(0, turnaroundColon);
    // Printable and without spaces, so the start line stays one word each.
    if (!name.empty()) {
        if (name.size() != out.id.name.size() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
            return false;
        std::copy(name.begin(), name.end(), out.id.name.begin());
    }
    if (turnaroundColon == std::string_view::npos)
        return !name.empty();
    out.turnaround = bus::ParseTurnaroundMs(std::string(text.substr(turnaroundColon + 1)));
    return out.turnaround.has_value();
}

bool ParseInputs(std::string_view text, Options &out)
{
    if (text == "loopback") {
        out.inputs = InputSource::Loopback;
        return true;
    }
    if (text == "pattern") {
        out.inputs = InputSource::Pattern;
        return true;
    }
    constexpr std::string_view fixed = "fixed:";
    if (!text.starts_with(fixed))
        return false;
    std::string_view hex = text.substr(fixed.size());
    if (hex.starts_with("0x") || hex.starts_with("0X"))
        hex.remove_prefix(2);
    const auto value = ParseNumber<uint32_t>(hex, 0, 0xFFFFFFFFu, 16);
    if (!value)
        return false;
    out.inputs = InputSource::Fixed;
    out.fixedInputs = *value;
    return true;
}

// DINn=v or DOUTn=v: the input (output) terminal n held at level v. A
// channel stuck at both levels is a typo, not a fault.
bool ParseStuck(std::string_view text, ChannelFaults &out, std::string &why)
{
    bool output = false;
    if (text.starts_with("DOUT")) {
        output = true;
        text.remove_prefix(4);
    } else if (text.starts_with("DIN")) {
        text.remove_prefix(3);
    } else {
        text = {};
    }
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) {
        why = "expected DINn=v or DOUTn=v";
        return false;
    }
    const auto n = ParseNumber<unsigned>(text.substr(0, eq), 0, 31);
    if (!n) {
        why = "channel must be 0..31";
        return false;
    }
    const auto level = ParseNumber<unsigned>(text.substr(eq + 1), 0, 1);
    if (!level) {
        why = "level must be 0 or 1";
        return false;
    }
    const uint32_t bit = 1u << *n;
    const uint32_t mask = output ? out.stuckOutputs : out.stuckInputs;
    const uint32_t levels = output ? out.stuckOutputLevels : out.stuckInputLevels;
    if ((mask & bit) && bool(levels & bit) != bool(*level)) {
        why = "already stuck at the other level";
        return false;
    }
    out.Stick(output, *n, *level != 0);
    return true;
}

// a,b: two different channels 0..31.
bool ParseSwap(std::string_view text, ChannelFaults &out, std::string &why)
{
    const auto comma = text.find(',');
    const auto a = ParseNumber<unsigned>(text.substr(0, comma), 0, 31);
    const auto b = comma == std::string_view::npos
                       ? std::nullopt
                       : ParseNumber<unsigned>(text.substr(comma + 1), 0, 31);
    if (!a || !b) {
        why = "expected a,b with channels 0..31";
        return false;
    }
    if (*a == *b) {
        why = "a channel cannot be swapped with itself";
        return false;
    }
    out.Swap(*a, *b);
    return true;
}

bool ParseDelay(std::string_view text, Faults &out)
{
    const auto colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    const auto percent = ParsePercent(text.substr(0, colon));
    // A minute is far beyond any driver's time-out; more is a typo.
    const auto ms = ParseNumber<unsigned>(text.substr(colon + 1), 0, 60000);
    if (!percent || !ms)
        return false;
    out.delay = *percent;
    out.delayMs = *ms;
    return true;
}

enum : int {
    OptModule = 256,
    OptUdpPort,
    OptNoUdp,
    OptPty,
    OptLink,
    OptInputs,
    OptDrop,
    OptDuplicate,
    OptCorrupt,
    OptDelay,
    OptDropRequests,
    OptStuck,
    OptSwap,
    OptTiming,
    OptTurnaround,
    OptSeed,
    OptVerbose,
    OptHelp,
};

const option LongOptions[] = {
    {"module", required_argument, nullptr, OptModule},
    {"udp-port", required_argument, nullptr, OptUdpPort},
    {"no-udp", no_argument, nullptr, OptNoUdp},
    {"pty", no_argument, nullptr, OptPty},
    {"link", required_argument, nullptr, OptLink},
    {"inputs", required_argument, nullptr, OptInputs},
    {"drop", required_argument, nullptr, OptDrop},
    {"duplicate", required_argument, nullptr, OptDuplicate},
    {"corrupt", required_argument, nullptr, OptCorrupt},
    {"delay", required_argument, nullptr, OptDelay},
    {"drop-requests", required_argument, nullptr, OptDropRequests},
    {"stuck", required_argument, nullptr, OptStuck},
    {"swap", required_argument, nullptr, OptSwap},
    {"timing", required_argument, nullptr, OptTiming},
    {"turnaround", required_argument, nullptr, OptTurnaround},
    {"seed", required_argument, nullptr, OptSeed},
    {"verbose", no_argument, nullptr, OptVerbose},
    {"help", no_argument, nullptr, OptHelp},
    {nullptr, 0, nullptr, 0},
};

} // namespace

const char *Usage()
{
    return "Usage: q417sim [options]\n"
           "Serves simulated 417 modules over UDP on 127.0.0.1 and/or a pseudo-terminal.\n"
           "\n"
           "  --module ADDR[:BAUD[:NAME[:MS]]]\n"
           "                         add a module (repeatable; default 1:4:DIO-3232);\n"
           "                         MS: its own turnaround (NAME may be empty: 5:4::20)\n"
           "  --udp-port N           UDP port on 127.0.0.1 (default 5000, 0 = any free)\n"
           "  --no-udp               do not serve UDP\n"
           "  --pty                  serve a pseudo-terminal\n"
           "  --link PATH            symlink PATH to the pseudo-terminal (implies --pty)\n"
           "  --inputs SRC           fixed:HEX | pattern | loopback (default loopback)\n"
           "  --drop P               P % of replies are not sent\n"
           "  --duplicate P          P % of replies are sent twice\n"
           "  --corrupt P            P % of replies get one bit flipped\n"
           "  --delay P:MS           P % of replies are sent MS ms late\n"
           "  --drop-requests P      P % of requests are ignored\n"
           "  --stuck DINn=v|DOUTn=v input (output) terminal n stays at level v\n"
           "                         (repeatable; loopback only)\n"
           "  --swap A,B             wires of channels A and B crossed (repeatable;\n"
           "                         loopback only)\n"
           "  --timing real|none     replies after their wire time (default real) or at once\n"
           "  --turnaround MS        a module's reply delay after a request (default 1)\n"
           "  --seed N               seed of the fault choice (default from the clock)\n"
           "  --verbose              log every request and reply to stderr\n"
           "  --help                 this text\n";
}

Parsed ParseOptions(int argc, char **argv, Options &out, std::string &error)
{
    out = Options{};
    optind = 1;
    opterr = 0; // our own messages, and only ours
    auto bad = [&](const char *what) {
        error = std::string("bad value for --") + what + ": '" + (optarg ? optarg : "") + "'";
        return Parsed::Error;
    };
    auto percent = [&](double &into) {
        const auto p = ParsePercent(optarg);
        if (p)
            into = *p;
        return p.has_value();
    };

    for (;;) {
        const int c = getopt_long(argc, argv, ":", LongOptions, nullptr);
        if (c == -1)
            break;
        switch (c) {
        case OptModule: {
            // Any number may share an address and rate: they collide.
            ModuleSpec m;
            if (!ParseModule(optarg, m))
                return bad("module");
            out.modules.push_back(m);
            break;
        }
        case OptUdpPort: {
            const auto port = ParseNumber<uint16_t>(optarg, 0, 65535);
            if (!port)
                return bad("udp-port");
            out.udpPort = *port;
            break;
        }
        case OptNoUdp:
            out.udp = false;
            break;
        case OptPty:
            out.pty = true;
            break;
        case OptLink:
            if (!*optarg)
                return bad("link");
            out.link = optarg;
            out.pty = true;
            break;
        case OptInputs:
            if (!ParseInputs(optarg, out))
                return bad("inputs");
            break;
        case OptDrop:
            if (!percent(out.faults.drop))
                return bad("drop");
            break;
        case OptDuplicate:
            if (!percent(out.faults.duplicate))
                return bad("duplicate");
            break;
        case OptCorrupt:
            if (!percent(out.faults.corrupt))
                return bad("corrupt");
            break;
        case OptDelay:
            if (!ParseDelay(optarg, out.faults))
                return bad("delay");
            break;
        case OptDropRequests:
            if (!percent(out.faults.dropRequests))
                return bad("drop-requests");
            break;
        case OptStuck:
        case OptSwap: {
            std::string why;
            const bool ok = c == OptStuck ? ParseStuck(optarg, out.channels, why)
                                          : ParseSwap(optarg, out.channels, why);
            if (!ok) {
                bad(c == OptStuck ? "stuck" : "swap");
                error += " (" + why + ")";
                return Parsed::Error;
            }
            out.channelFaults = true;
            break;
        }
        case OptTiming: {
            const auto real = bus::ParseTimingMode(optarg);
            if (!real)
                return bad("timing");
            out.timing.real = *real;
            break;
        }
        case OptTurnaround: {
            const auto turnaround = bus::ParseTurnaroundMs(optarg);
            if (!turnaround)
                return bad("turnaround");
            out.timing.turnaround = *turnaround;
            break;
        }
        case OptSeed: {
            const auto seed = ParseNumber<uint32_t>(optarg, 0, 0xFFFFFFFFu);
            if (!seed)
                return bad("seed");
            out.seed = *seed;
            break;
        }
        case OptVerbose:
            out.verbose = true;
            break;
        case OptHelp:
            return Parsed::Help;
        case ':':
            error = std::string("missing value for ") + argv[optind - 1];
            return Parsed::Error;
        default:
            error = std::string("unknown option: ") + argv[optind - 1];
            return Parsed::Error;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument: ") + argv[optind];
        return Parsed::Error;
    }
    if (!out.udp && !out.pty) {
        error = "nothing to serve: --no-udp without --pty or --link";
        return Parsed::Error;
    }
    // Stuck terminals and crossed wires belong to the loopback fixture;
    // fixed or walking inputs have no wires to break.
    if (out.channelFaults && out.inputs != InputSource::Loopback) {
        error = "--stuck and --swap need --inputs loopback";
        return Parsed::Error;
    }
    if (out.modules.empty())
        out.modules.push_back(ModuleSpec{});
    return Parsed::Run;
}

} // namespace q417sim
