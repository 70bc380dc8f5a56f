// One connection through the program's own binding (Qxxx417), as the
// windows make it: DrvInit, DrvSetConfig, ModuleCall, DrvDone.
#pragma once

#include "Qxxx417.h"
#include "q417drv.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct Answer {
    uint8_t status = 0xEE; // no exchange yet
    uint8_t x = 0;
    std::array<uint8_t, 4> d{};
};

class Session {
public:
    explicit Session(uint8_t kind) : kind_(kind) { DrvSetLibraryDirectory(DRIVER_DIR); }
    ~Session() { Close(); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // The silence guard in us the next Open asks for (q417drv.h); 0: none.
    void SetGuard(int32_t us) { guardUs_ = us; }

    int32_t OpenLan(const std::string &ip, uint16_t port, int32_t timeoutMs)
    {
        TInitParams p = Params();
        q417_params_set_text(p.data(), ip.c_str());
        p[1] = port;
        p[2] = timeoutMs;
        return DrvInit(kind_, handle_, p);
    }
    int32_t OpenCom(int32_t port)
    {
        TInitParams p = Params();
        p[0] = port;
        return DrvInit(kind_, handle_, p);
    }
    int32_t OpenPlain() { return DrvInit(kind_, handle_, Params()); }

    // The program's call: the rate, the reply time-out and 2 retries.
    int32_t Configure(uint32_t rate, uint32_t timeoutMs)
    {
        return DrvSetConfig(kind_, handle_, rate, timeoutMs, 2);
    }

    Answer Call(uint8_t address, uint8_t cmd, uint8_t sub, uint8_t x = 0,
                std::array<uint8_t, 4> d = {})
    {
        Answer a;
        a.x = x;
        a.d = d;
        TDataArray reply{};
        ModuleCall(kind_, handle_, address, cmd, sub, a.x, a.d[0], a.d[1], a.d[2], a.d[3],
                   a.status, reply);
        return a;
    }

    // Register access as the configuration dialogs do it: register and
    // value each sent twice.
    Answer WriteRegister(uint8_t address, uint8_t reg, uint8_t value)
    {
        return Call(address, CmdWriteRegister, SubNone, 0, {reg, reg, value, value});
    }
    Answer ReadRegister(uint8_t address, uint8_t reg)
    {
        return Call(address, CmdReadRegister, SubNone, 0, {reg, reg, 0, 0});
    }

    // The eight name characters and four version characters.
    std::string Identity(uint8_t address)
    {
        std::string s;
        for (uint8_t sub = 0; sub < 3; ++sub) {
            const Answer a = Call(address, CmdReadIdentity, sub);
            if (a.status != 0)
                return "status " + std::to_string(a.status);
            s.append(a.d.begin(), a.d.end());
            if (sub == 1)
                s += ' ';
        }
        return s;
    }

    // The late replies heard so far, listening up to `waitMs` while none is.
    std::vector<TLateReply> Late(uint32_t waitMs)
    {
        std::vector<TLateReply> got;
        status_ = DrvLate(kind_, handle_, waitMs, got);
        return got;
    }
    int32_t LastStatus() const { return status_; }

    std::string Text(uint32_t code)
    {
        TDataArray t{};
        if (DrvErrorText(kind_, code, t) != 0)
            return {};
        std::string s;
        DataArrayToStr(t, s);
        return s;
    }

    void Close()
    {
        if (handle_ != 0)
            DrvDone(kind_, handle_);
        handle_ = 0;
    }

    int32_t Handle() const { return handle_; }

private:
    TInitParams Params() const
    {
        TInitParams p{};
        p[Q417_PARAM_GUARD] = guardUs_;
        return p;
    }

    uint8_t kind_;
    int32_t handle_ = 0;
    int32_t guardUs_ = 0;
    int32_t status_ = 0;
};

inline uint32_t Word(const std::array<uint8_t, 4> &d)
{
    return uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
}

inline std::array<uint8_t, 4> Bytes(uint32_t w)
{
    return {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
}

template <typename F> std::chrono::milliseconds Elapsed(F &&f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t0);
}
