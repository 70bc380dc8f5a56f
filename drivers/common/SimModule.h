// A simulated module of the 417 family: what the in-process drivers and the
// simulator answer with. Single-threaded; the owner serialises access.
#pragma once

#include "Wire.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// Status register bits the module sets itself.
inline constexpr uint32_t StatusPowerUp = 1u << 4; /**< PWR: set at power-up */
inline constexpr uint32_t StatusReset = 1u << 5;   /**< RST: set by a restart */

enum class InputSource {
    Fixed,   /**< inputs hold a value set by the host */
    Pattern, /**< a walking one that advances on every read */
    Loopback /**< each output wired back to the input of the same number */
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

    // Answers one request addressed to this module. The reply's status is 0
    // or a Q417_E_MOD_* code; its seq and address are filled in.
    wire::Reply Handle(const wire::Request &request);

    // A restart: a new address and baud code written to registers 63 and 62
    // take effect, the outputs return to their initial state, RST is set.
    void Restart();

    void SetInputSource(InputSource source, uint32_t fixed = 0);
    uint32_t Inputs();         // what a read of the inputs would give now
    uint32_t Outputs() const { return outputs_; }
    uint32_t Status() const { return status_; }
    std::optional<uint8_t> Register(uint8_t reg) const;

private:
    static std::optional<std::size_t> RegisterIndex(uint8_t reg);
    uint32_t Group(uint8_t firstRegister) const; // 4 registers 3 apart as a word

    Identity id_;
    uint8_t address_;
    uint8_t baudCode_;
    std::array<uint8_t, 14> regs_{}; // 32..43, then 62, 63
    uint32_t outputs_ = 0;
    uint32_t status_ = StatusPowerUp;
    InputSource source_ = InputSource::Loopback;
    uint32_t fixed_ = 0;
    unsigned patternStep_ = 0;
};

// Modules sharing one bus: a request reaches the module at its address; no
// module there means no reply.
class SimBus {
public:
    SimModule &Add(SimModule module);
    std::optional<wire::Reply> Handle(const wire::Request &request);
    SimModule *Find(uint8_t address);
    std::vector<SimModule> &Modules() { return modules_; }

private:
    std::vector<SimModule> modules_;
};
