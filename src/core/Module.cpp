#include "Module.h"

#include "ExchangeHook.h"
#include "Qxxx417.h"
#include "Text.h"
#include "q417drv.h"

#include <algorithm>
#include <utility>

namespace
{

struct Speed {
    uint32_t rate;
    uint32_t timeout;
};
constexpr std::array<Speed, 9> Speeds = {{{600, 1000},
                                          {1200, 1000},
                                          {2400, 500},
                                          {4800, 250},
                                          {9600, 200},
                                          {19200, 150},
                                          {38400, 100},
                                          {57600, 100},
                                          {115200, 100}}};

constexpr std::array<TRegisterStep, 2> AddressSteps = {{
    {RegAddress, offsetof(TModuleConfig, Address)},
    {RegBaudCode, offsetof(TModuleConfig, BaudCode)},
}};

constexpr std::array<TRegisterStep, 12> ChannelSteps = [] {
    std::array<TRegisterStep, 12> steps{};
    struct Setting {
        uint8_t (*reg)(int);
        std::size_t byte;
    };
    const Setting settings[] = {
        {RegDoutInitState, offsetof(TModuleConfig, DoutInitState)},
        {RegDinNegation, offsetof(TModuleConfig, DinNegation)},
        {RegDoutNegation, offsetof(TModuleConfig, DoutNegation)},
    };
    std::size_t i = 0;
    for (const Setting &s : settings) {
        for (int n = 0; n < 4; ++n)
            steps[i++] = {s.reg(n), s.byte + std::size_t(n)};
    }
    return steps;
}();

// One body for the const and the mutable image.
template <class Config> auto &ByteOf(Config &c, std::size_t i)
{
    if (i == 0)
        return c.Address;
    if (i == 1)
        return c.BaudCode;
    if (i < 6)
        return c.DinNegation[i - 2];
    if (i < 10)
        return c.DoutNegation[i - 6];
    return c.DoutInitState[i - 10];
}

std::string RegisterName(uint8_t reg)
{
    std::string name = "registru " + std::to_string(reg);
    if (reg == RegAddress)
        return name + " (adresa)";
    if (reg == RegBaudCode)
        return name + " (rychlost)";
    if (reg >= RegDoutInitState(0) && reg <= RegDoutNegation(3)) {
        static const char *const Settings[] = {"počáteční stav DOUT", "negace DIN", "negace DOUT"};
        const int n = (reg - RegDoutInitState(0)) / 3;
        return name + " (" + Settings[(reg - RegDoutInitState(0)) % 3] + std::to_string(8 * n) +
               "-" + std::to_string(8 * n + 7) + ")";
    }
    return name;
}

// A register value as a technician reads it: the baud code with its rate.
std::string RegisterValue(uint8_t reg, uint8_t value)
{
    std::string text = std::to_string(value);
    if (reg == RegBaudCode && value < BaudCodeCount)
        text += " (" + std::to_string(BaudCodeToRate(value)) + " Bd)";
    return text;
}

std::string HexWord(uint32_t word)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        s.push_back(Digits[(word >> shift) & 0xF]);
    return s;
}

uint32_t Word(const std::array<uint8_t, 4> &d)
{
    return uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
}

std::array<uint8_t, 4> Bytes(uint32_t word)
{
    return {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
}

// Runs the steps of one operation and reports each; the outcome of the
// first that does not pass, or of a callback that asks to stop.
class TRun
{
  public:
    TRun(const TModuleLink &link, std::size_t total, const TStepReport &report)
        : link_(link), total_(total), report_(report)
    {
    }

    // One exchange into `step`; true when the driver answered with status 0.
    bool Exchange(std::string what, uint8_t cmd, uint8_t sub, std::array<uint8_t, 4> request,
                  TModuleStep &step, uint8_t reg = 0, uint8_t requestX = 0)
    {
        step = ExchangeStep(link_, std::move(what), cmd, sub, request, requestX);
        step.Number = ++number_;
        step.Total = total_;
        reg_ = reg;
        return step.Status == 0;
    }

    // Reports the step; false when the operation must end.
    bool Report(const TModuleStep &step)
    {
        // Here rather than in ExchangeStep: the meaning is complete (the
        // value read, a read-back that differs) only now.
        NotifyExchange(link_, step);
        const bool go = !report_ || report_(step);
        if (!go) {
            result_ = {TOutcome::Stopped, step.Status, step.Number, reg_};
            return false;
        }
        if (step.Status != 0) {
            result_ = {TOutcome::DriverError, step.Status, step.Number, reg_};
            return false;
        }
        if (step.Mismatch) {
            result_ = {TOutcome::Mismatch, 0, step.Number, reg_};
            return false;
        }
        return true;
    }

    bool Step(std::string what, uint8_t cmd, uint8_t sub, std::array<uint8_t, 4> request,
              TModuleStep &step, uint8_t reg = 0)
    {
        Exchange(std::move(what), cmd, sub, request, step, reg);
        return Report(step);
    }

    const TModuleResult &Result() const { return result_; }

  private:
    TModuleLink link_;
    std::size_t total_;
    const TStepReport &report_;
    std::size_t number_ = 0;
    uint8_t reg_ = 0;
    TModuleResult result_{};
};

TModuleResult ReadWord(const TModuleLink &link, uint8_t cmd, uint8_t sub, const char *what,
                       uint32_t &word, const TStepReport &report)
{
    TRun run(link, 1, report);
    TModuleStep step;
    // Fresh zeros: the request must never carry an earlier answer.
    run.Exchange(what, cmd, sub, {}, step);
    if (step.Status == 0)
        step.What += " = " + HexWord(Word(step.Reply));
    if (!run.Report(step))
        return run.Result();
    word = Word(step.Reply);
    return run.Result();
}

} // namespace

TModuleStep ExchangeStep(const TModuleLink &link, std::string what, uint8_t cmd, uint8_t sub,
                         std::array<uint8_t, 4> request, uint8_t requestX)
{
    TModuleStep step;
    step.Number = 1;
    step.Total = 1;
    step.What = std::move(what);
    step.Address = link.Address;
    step.Cmd = cmd;
    step.Sub = sub;
    step.RequestX = requestX;
    step.Request = request;
    std::array<uint8_t, 4> d = request;
    uint8_t x = requestX;
    // ModuleCall leaves the status alone when it sends nothing (handle 0);
    // that must not read as a good answer.
    uint8_t status = DrvNotComposed;
    TDataArray reply{};
    step.Started = std::chrono::system_clock::now();
    const auto begun = std::chrono::steady_clock::now();
    ModuleCall(link.Kind, link.Handle, link.Address, cmd, sub, x, d[0], d[1], d[2], d[3], status,
               reply);
    step.Duration = std::chrono::steady_clock::now() - begun;
    step.X = x;
    step.Reply = d;
    step.Status = status;
    return step;
}

uint32_t BaudCodeToRate(uint8_t code)
{
    return code < Speeds.size() ? Speeds[code].rate : 9600;
}

uint8_t RateToBaudCode(uint32_t rate)
{
    for (std::size_t i = 0; i < Speeds.size(); ++i) {
        if (Speeds[i].rate == rate)
            return uint8_t(i);
    }
    return 4;
}

uint32_t BaudCodeTimeout(uint8_t code)
{
    return code < Speeds.size() ? Speeds[code].timeout : 200;
}

uint8_t &ConfigByte(TModuleConfig &c, std::size_t i)
{
    return ByteOf(c, i);
}

uint8_t ConfigByte(const TModuleConfig &c, std::size_t i)
{
    return ByteOf(c, i);
}

std::span<const TRegisterStep> AddressRegisters()
{
    return AddressSteps;
}

std::span<const TRegisterStep> ChannelRegisters()
{
    return ChannelSteps;
}

TModuleResult ReadIdentity(const TModuleLink &link, std::string &name, const TStepReport &report)
{
    static const char *const Parts[] = {"čtení názvu modulu (1-4)", "čtení názvu modulu (5-8)",
                                        "čtení verze modulu"};
    TRun run(link, 3, report);
    std::string bytes;
    uint8_t x = 0;
    for (uint8_t sub = 0; sub < 3; ++sub) {
        TModuleStep step;
        run.Exchange(Parts[sub], CmdReadIdentity, sub, {}, step, 0, x);
        if (!run.Report(step))
            return run.Result();
        x = step.X;
        if (sub == 2)
            bytes += " v.";
        for (uint8_t b : step.Reply)
            bytes.push_back(char(b));
    }
    name = Cp1250ToUtf8(bytes);
    return run.Result();
}

TModuleResult ReadRegisters(const TModuleLink &link, std::span<const TRegisterStep> registers,
                            TModuleConfig &C, const TStepReport &report)
{
    TRun run(link, registers.size(), report);
    for (const TRegisterStep &r : registers) {
        TModuleStep step;
        run.Exchange("čtení " + RegisterName(r.Register), CmdReadRegister, SubNone,
                     {r.Register, r.Register, 0, 0}, step, r.Register);
        if (step.Status == 0) {
            step.What += " = " + RegisterValue(r.Register, step.Reply[2]);
            ConfigByte(C, r.Byte) = step.Reply[2];
        }
        if (!run.Report(step))
            return run.Result();
    }
    return run.Result();
}

TModuleResult WriteRegisters(const TModuleLink &link, std::span<const TRegisterStep> registers,
                             const TModuleConfig &C, const TStepReport &report)
{
    TRun run(link, 2 * registers.size(), report);
    for (const TRegisterStep &r : registers) {
        const uint8_t value = ConfigByte(C, r.Byte);
        const std::string target =
            RegisterName(r.Register) + " = " + RegisterValue(r.Register, value);
        TModuleStep step;
        if (!run.Step("zápis " + target, CmdWriteRegister, SubNone,
                      {r.Register, r.Register, value, value}, step, r.Register))
            return run.Result();
        run.Exchange("kontrola " + target, CmdReadRegister, SubNone, {r.Register, r.Register, 0, 0},
                     step, r.Register);
        if (step.Status == 0 && step.Reply[2] != value) {
            step.Mismatch = true;
            step.What += " (přečteno " + std::to_string(step.Reply[2]) + ")";
        }
        if (!run.Report(step))
            return run.Result();
    }
    return run.Result();
}

TModuleResult ReadInputs(const TModuleLink &link, uint32_t &word, const TStepReport &report)
{
    return ReadWord(link, CmdReadInputs, SubChannels, "čtení vstupů", word, report);
}

TModuleResult ReadStatus(const TModuleLink &link, uint32_t &word, const TStepReport &report)
{
    return ReadWord(link, CmdReadStatus, SubNone, "čtení status registru", word, report);
}

TModuleResult WriteOutputs(const TModuleLink &link, uint32_t word, const TStepReport &report)
{
    TRun run(link, 1, report);
    TModuleStep step;
    run.Step("zápis výstupů = " + HexWord(word), CmdWriteOutputs, SubChannels, Bytes(word), step);
    return run.Result();
}

TModuleResult ClearStatus(const TModuleLink &link, const TStepReport &report)
{
    TRun run(link, 1, report);
    TModuleStep step;
    run.Step("nulování status registru", CmdClearStatus, SubNone, {}, step);
    return run.Result();
}

std::string StatusCodeText(uint8_t kind, int32_t status, TDataArray &text)
{
    DrvErrorText(kind, uint32_t(status), text);
    std::string s;
    DataArrayToStr(text, s);
    return s;
}

TConnectResult ConnectRecord(TData &data, uint8_t address, uint8_t baudCode, TDataArray &text,
                             const TStepReport &report)
{
    TConnectResult r;
    int32_t handle = data.Handle;
    // Each call's text is asked for at once, as the dialog always has: a
    // driver may keep only its last error.
    const auto said = [&](int32_t status) { r.StatusText = StatusCodeText(data.Kind, status, text); };
    const auto failed = [&](TConnectStage stage, int32_t status) {
        r.Stage = stage;
        r.Status = status;
        if (stage != TConnectStage::Init) {
            DrvDone(data.Kind, handle);
            data.Handle = handle;
        }
        data.Connected = false;
        return r;
    };
    int32_t status = DrvInit(data.Kind, handle, data.InitParams);
    said(status);
    if (status != 0)
        return failed(TConnectStage::Init, status);
    data.Connected = true;
    const uint32_t rate = BaudCodeToRate(baudCode);
    status = DrvSetConfig(data.Kind, handle, rate, BaudCodeTimeout(baudCode), 2);
    said(status);
    if (status != 0)
        return failed(TConnectStage::SetConfig, status);
    std::string name;
    const TModuleResult identity =
        ReadIdentity({data.Kind, handle, address}, name, [&](const TModuleStep &step) {
            said(step.Status);
            return !report || report(step);
        });
    if (!identity.Ok())
        return failed(TConnectStage::Identity, identity.Status);
    data.ModuleName = name;
    data.Address = address;
    data.BaudRate = rate;
    data.StatusText = "V pořádku";
    data.Handle = handle;
    return r;
}

void CloseRecord(TData &data)
{
    if (!data.Connected || data.Handle == 0)
        return;
    int32_t handle = data.Handle;
    DrvDone(data.Kind, handle);
    data.Handle = handle;
    data.Connected = false;
}

void FillInitParams(TData &data)
{
    data.InitParams.fill(0);
    switch (data.Kind) {
    case ifCom:
        data.InitParams[0] = data.ComPort;
        break;
    case ifIsa:
        data.InitParams[0] = data.BaseAddress;
        break;
    case ifLan:
        // The driver reads the text through the block while Init runs.
        q417_params_set_text(data.InitParams.data(), data.IpAddress.c_str());
        data.InitParams[1] = int32_t(data.UdpPort);
        data.InitParams[2] = int32_t(std::max<uint32_t>(data.UdpTimeout, 1000));
        break;
    default:
        break;
    }
}
