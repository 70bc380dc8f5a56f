// A simulated module of the 417 family: what the in-process drivers and the
// simulator answer with. Single-threaded; the owner serialises access.
#pragma once

#include "BusTiming.h"
#include "Wire.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// Status register bits the module sets itself.
inline constexpr uint32_t StatusPowerUp = 1u << 4; /**< PWR: set at power-up */
inline constexpr uint32_t StatusReset = 1u << 5;   /**< RST: set by a restart */

enum class InputSource {
    Fixed,   /**< inputs hold a value set by the host */
    Pattern, /**< a walking one that advances on every read */
    Loopback /**< each output wired back to the input of the same number */
};

// Faults of the wiring between a module's output and input terminals, seen
// only in loopback (as a test fixture has them): a terminal stuck at a level
// whatever drives it, and crossed wires. Bit n stands for channel n.
struct ChannelFaults {
    uint32_t stuckInputs = 0;      /**< input terminals held at a level */
    uint32_t stuckInputLevels = 0; /**< their levels (bits outside stuckInputs are 0) */
    uint32_t stuckOutputs = 0;     /**< output terminals held at a level */
    uint32_t stuckOutputLevels = 0;
    // Input terminal n is wired to output terminal wiring[n].
    std::array<uint8_t, 32> wiring = StraightWiring();

    static constexpr std::array<uint8_t, 32> StraightWiring()
    {
        std::array<uint8_t, 32> w{};
        for (uint8_t n = 0; n < 32; ++n)
            w[n] = n;
        return w;
    }
    // Crosses the wires arriving at inputs a and b. On straight wiring
    // output a then drives input b and output b input a; later swaps
    // compose with earlier ones.
    void Swap(unsigned a, unsigned b) { std::swap(wiring[a], wiring[b]); }
    // Holds input (or output) terminal n at `level`.
    void Stick(bool output, unsigned n, bool level);
    // The input terminal levels, given what the outputs drive before faults.
    uint32_t InputLevels(uint32_t outputLevels) const;
};

class SimModule {
public:
    struct Identity {
        std::array<uint8_t, 8> name;
        std::array<uint8_t, 4> version;
    };
    static Identity DefaultIdentity();

    // Powers up with the given address and baud code in its registers.
    explicit SimModule(uint8_t address, uint8_t baudCode = 4, Identity id = DefaultIdentity());

    // The address the module answers at (register 63 as of the last start).
    uint8_t Address() const { return address_; }
    uint8_t BaudCode() const { return baudCode_; }
    const Identity &Id() const { return id_; }

    // A module slower than the bus's others (an old controller, one busy
    // with its inputs): its own turnaround, which the master does not
    // expect. Unset, it turns around as the bus's modules do.
    void SetTurnaround(std::optional<bus::Duration> turnaround) { turnaround_ = turnaround; }
    std::optional<bus::Duration> Turnaround() const { return turnaround_; }

    // Answers one request addressed to this module. The reply's status is 0
    // or a Q417_E_MOD_* code; its seq and address are filled in.
    wire::Reply Handle(const wire::Request &request);

    // A restart: a new address and baud code written to registers 63 and 62
    // take effect, the outputs return to their initial state, RST is set.
    void Restart();

    void SetInputSource(InputSource source, uint32_t fixed = 0);
    // Take effect in loopback only: fixed and pattern inputs have no wires.
    void SetChannelFaults(const ChannelFaults &faults) { channelFaults_ = faults; }
    uint32_t Inputs();         // what a read of the inputs would give now
    uint32_t Outputs() const { return outputs_; }
    uint32_t Status() const { return status_; }
    std::optional<uint8_t> Register(uint8_t reg) const;

private:
    static std::optional<std::size_t> RegisterIndex(uint8_t reg);
    uint32_t Group(uint8_t firstRegister) const; // 4 registers 3 apart as a word

    Identity id_;
    std::optional<bus::Duration> turnaround_;
    uint8_t address_;
    uint8_t baudCode_;
    std::array<uint8_t, 14> regs_{}; // 32..43, then 62, 63
    uint32_t outputs_ = 0;
    uint32_t status_ = StatusPowerUp;
    InputSource source_ = InputSource::Loopback;
    uint32_t fixed_ = 0;
    unsigned patternStep_ = 0;
    ChannelFaults channelFaults_;
};

// Modules sharing one bus: a request reaches the modules at its address,
// and a module hears it only when the bus runs at the module's own rate; at
// any other its receiver sees framing errors. No module there, or one at
// another rate, means no reply. Modules at one address and different rates
// each hear only their own.
//
// Modules at one address and one rate all act on a request (a write reaches
// each) and answer together, after the same turnaround: their replies
// overlay on the wire bit for bit. The line idles at 1 and a sender driving
// a 0 wins against one driving a 1, so the master receives the bitwise AND
// of the replies. Replies that differ almost always leave a wrong CRC;
// byte-identical replies (two modules alike in what was asked) arrive clean,
// as they would on a real bus.
class SimBus {
public:
    // What reaches the master for one request.
    struct Heard {
        unsigned modules = 0;     /**< how many heard and acted on it; 0: silence */
        wire::ReplyFrame frame{}; /**< the bytes on the wire, when modules > 0 */
        // The longest own turnaround among them (SimModule::Turnaround),
        // unset when each turns around as the bus does. Colliding modules
        // are taken to answer together after the slowest one's.
        std::optional<bus::Duration> turnaround;
        bus::Duration TurnaroundOr(bus::Duration usual) const { return turnaround.value_or(usual); }
    };

    SimModule &Add(SimModule module);
    // At the bus's rate (Rate()), or at `bd` where a link has a rate of its
    // own (a serial line next to the converter's UDP).
    Heard Exchange(const wire::Request &request);
    Heard Exchange(const wire::Request &request, int32_t bd);
    // The reply as the master decodes it: nullopt when no module heard the
    // request, or when colliding replies left a frame that does not decode
    // (Exchange tells the two apart).
    std::optional<wire::Reply> Handle(const wire::Request &request);
    std::optional<wire::Reply> Handle(const wire::Request &request, int32_t bd);
    SimModule *Find(uint8_t address); // the first at that address, at any rate
    std::vector<SimModule> &Modules() { return modules_; }

    // The rate the master drives the bus at, in Bd (one of bus::Rates).
    // Until the master sets one: bus::DefaultRate, 9600 Bd, what modules
    // leave the factory with.
    void SetRate(int32_t bd) { rate_ = bd; }
    int32_t Rate() const { return rate_; }

private:
    std::vector<SimModule> modules_;
    int32_t rate_ = bus::DefaultRate;
};
