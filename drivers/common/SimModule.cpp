#include "SimModule.h"

#include "q417drv.h"

#include <algorithm>

namespace {

constexpr uint8_t FirstChannelRegister = 32;
constexpr uint8_t LastChannelRegister = 43;
constexpr uint8_t BaudRegister = 62;
constexpr uint8_t AddressRegister = 63;
constexpr uint8_t MaxBaudCode = uint8_t(std::size(bus::Rates) - 1);
constexpr uint8_t ChannelsSub = 64;

uint32_t Word(const std::array<uint8_t, 4> &d)
{
    return uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
}

std::array<uint8_t, 4> Bytes(uint32_t w)
{
    return {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
}

// Modules at one address but different rates never hear each other's
// requests, so a bus may hold several.
bool Hears(const SimModule &m, const wire::Request &request, int32_t bd)
{
    return m.Address() == request.address && bus::Rate(m.BaudCode()) == bd;
}

template <std::size_t N> std::array<uint8_t, N> Chars(const char (&text)[N + 1])
{
    std::array<uint8_t, N> a{};
    std::copy(text, text + N, a.begin());
    return a;
}

} // namespace

void ChannelFaults::Stick(bool output, unsigned n, bool level)
{
    uint32_t &mask = output ? stuckOutputs : stuckInputs;
    uint32_t &levels = output ? stuckOutputLevels : stuckInputLevels;
    mask |= 1u << n;
    levels = (levels & ~(1u << n)) | uint32_t(level) << n;
}

uint32_t ChannelFaults::InputLevels(uint32_t outputLevels) const
{
    outputLevels = (outputLevels & ~stuckOutputs) | (stuckOutputLevels & stuckOutputs);
    uint32_t in = 0;
    for (unsigned n = 0; n < 32; ++n)
        in |= (outputLevels >> wiring[n] & 1u) << n;
    return (in & ~stuckInputs) | (stuckInputLevels & stuckInputs);
}

SimModule::Identity SimModule::DefaultIdentity()
{
    return {Chars<8>("DIO-3232"), Chars<4>("1.07")};
}

SimModule::SimModule(uint8_t address, uint8_t baudCode, Identity id)
    : id_(id), address_(address), baudCode_(baudCode)
{
    for (int n = 0; n < 4; ++n) {
        regs_[std::size_t(3 * n)] = 0x00;     // output initial state
        regs_[std::size_t(3 * n + 1)] = 0xFF; // input negation
        regs_[std::size_t(3 * n + 2)] = 0xFF; // output negation
    }
    regs_[12] = baudCode;
    regs_[13] = address;
    outputs_ = Group(FirstChannelRegister);
}

std::optional<std::size_t> SimModule::RegisterIndex(uint8_t reg)
{
    if (reg >= FirstChannelRegister && reg <= LastChannelRegister)
        return reg - FirstChannelRegister;
    if (reg == BaudRegister)
        return 12;
    if (reg == AddressRegister)
        return 13;
    return std::nullopt;
}

std::optional<uint8_t> SimModule::Register(uint8_t reg) const
{
    const auto i = RegisterIndex(reg);
    if (!i)
        return std::nullopt;
    return regs_[*i];
}

uint32_t SimModule::Group(uint8_t firstRegister) const
{
    const std::size_t i = firstRegister - FirstChannelRegister;
    return Word({regs_[i], regs_[i + 3], regs_[i + 6], regs_[i + 9]});
}

void SimModule::SetInputSource(InputSource source, uint32_t fixed)
{
    source_ = source;
    fixed_ = fixed;
}

uint32_t SimModule::Inputs()
{
    switch (source_) {
    case InputSource::Fixed:
        return fixed_;
    case InputSource::Pattern:
        return 1u << (patternStep_++ % 32);
    case InputSource::Loopback:
        break;
    }
    // The terminal level of an output is the written bit through its
    // negation; the input reads the level on its terminal through its own
    // negation. A faulty wiring sits between the two terminals.
    const uint32_t level = channelFaults_.InputLevels(outputs_ ^ Group(34));
    return level ^ Group(33);
}

void SimModule::Restart()
{
    address_ = regs_[13];
    baudCode_ = regs_[12];
    outputs_ = Group(FirstChannelRegister);
    status_ |= StatusReset;
}

wire::Reply SimModule::Handle(const wire::Request &rq)
{
    wire::Reply r;
    r.seq = rq.seq;
    r.address = address_;
    r.x = rq.x;
    auto fail = [&r](int code) {
        r.status = uint8_t(code);
        r.d = {};
        return r;
    };

    switch (rq.cmd) {
    case 0:
        if (rq.sub != ChannelsSub)
            return fail(Q417_E_MOD_CMD);
        r.d = Bytes(Inputs());
        return r;
    case 1:
        if (rq.sub != ChannelsSub)
            return fail(Q417_E_MOD_CMD);
        outputs_ = Word(rq.d);
        return r;
    case 100:
        if (rq.sub != 0)
            return fail(Q417_E_MOD_CMD);
        r.d = Bytes(status_);
        return r;
    case 101:
        if (rq.sub != 0)
            return fail(Q417_E_MOD_CMD);
        status_ = 0;
        return r;
    case 102:
    case 103: {
        if (rq.sub != 0)
            return fail(Q417_E_MOD_CMD);
        // Register and value travel twice; a disagreeing copy is a damaged
        // request, never something to act on.
        if (rq.d[0] != rq.d[1] || (rq.cmd == 103 && rq.d[2] != rq.d[3]))
            return fail(Q417_E_MOD_COPY);
        const auto i = RegisterIndex(rq.d[0]);
        if (!i)
            return fail(Q417_E_MOD_REG);
        if (rq.cmd == 103) {
            if (rq.d[0] == BaudRegister && rq.d[2] > MaxBaudCode)
                return fail(Q417_E_MOD_VALUE);
            regs_[*i] = rq.d[2];
        }
        r.d = {rq.d[0], rq.d[0], regs_[*i], regs_[*i]};
        return r;
    }
    case 200:
        if (rq.sub == 0)
            std::copy_n(id_.name.begin(), 4, r.d.begin());
        else if (rq.sub == 1)
            std::copy_n(id_.name.begin() + 4, 4, r.d.begin());
        else if (rq.sub == 2)
            r.d = id_.version;
        else
            return fail(Q417_E_MOD_CMD);
        return r;
    default:
        return fail(Q417_E_MOD_CMD);
    }
}

SimModule &SimBus::Add(SimModule module)
{
    modules_.push_back(module);
    return modules_.back();
}

SimModule *SimBus::Find(uint8_t address)
{
    for (SimModule &m : modules_) {
        if (m.Address() == address)
            return &m;
    }
    return nullptr;
}

SimBus::Heard SimBus::Exchange(const wire::Request &request)
{
    return Exchange(request, rate_);
}

SimBus::Heard SimBus::Exchange(const wire::Request &request, int32_t bd)
{
    Heard heard;
    for (SimModule &m : modules_) {
        if (!Hears(m, request, bd))
            continue;
        const wire::ReplyFrame frame = wire::Encode(m.Handle(request));
        if (const auto own = m.Turnaround(); own && (!heard.turnaround || *own > *heard.turnaround))
            heard.turnaround = own;
        if (heard.modules++ == 0) {
            heard.frame = frame;
            continue;
        }
        // A dominant 0: see the class comment.
        for (std::size_t i = 0; i < frame.size(); ++i)
            heard.frame[i] &= frame[i];
    }
    return heard;
}

std::optional<wire::Reply> SimBus::Handle(const wire::Request &request)
{
    return Handle(request, rate_);
}

std::optional<wire::Reply> SimBus::Handle(const wire::Request &request, int32_t bd)
{
    // The usual bus, one module hearing, needs no frame built and decoded.
    SimModule *only = nullptr;
    unsigned hearing = 0;
    for (SimModule &m : modules_) {
        if (Hears(m, request, bd)) {
            only = &m;
            ++hearing;
        }
    }
    if (hearing == 1)
        return only->Handle(request);
    const Heard heard = Exchange(request, bd);
    wire::Reply reply;
    if (heard.modules == 0 || wire::Decode(heard.frame, reply) != wire::Decoded::Ok)
        return std::nullopt;
    return reply;
}
