// The seven exported entries of one driver library, and our optional
// ones, SetGuard and Late. Built once per kind with Q417_DRIVER_KIND (0..4) and
// Q417_DRIVER_PREFIX (QCOM417_, ...); the work lives in Driver.cpp and the
// transports.
#include "Driver.h"
#include "Transport.h"

#include "q417drv.h"

#include <string>

#if !defined(Q417_DRIVER_KIND) || !defined(Q417_DRIVER_PREFIX)
#error "Q417_DRIVER_KIND and Q417_DRIVER_PREFIX select the library being built"
#endif

#define Q417_PASTE_(a, b) a##b
#define Q417_PASTE(a, b) Q417_PASTE_(a, b)
#define Q417_ENTRY(suffix) Q417_PASTE(Q417_DRIVER_PREFIX, suffix)

extern "C" {

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Version)(void)
{
    return Q417_INTERFACE_VERSION;
}

#if Q417_DRIVER_KIND == 0

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Init)(int32_t *handle, int32_t port)
{
    return drv::Init(handle, "COM" + std::to_string(port),
                     [port](int32_t &error) { return drv::OpenSerial(port, error); });
}

#elif Q417_DRIVER_KIND == 1

// The base address selects a card in a machine; the simulated card answers
// at any.
Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Init)(int32_t *handle, int32_t /*baseAddress*/)
{
    return drv::Init(handle, {}, [](int32_t &) { return drv::OpenLocal(); });
}

#elif Q417_DRIVER_KIND == 2 || Q417_DRIVER_KIND == 3

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Init)(int32_t *handle)
{
    return drv::Init(handle, {}, [](int32_t &) { return drv::OpenLocal(); });
}

#elif Q417_DRIVER_KIND == 4

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Init)(int32_t *handle, const int32_t *params)
{
    if (params == nullptr)
        return Q417_E_PARAM;
    // The block is read during this call only: copy what the opener needs.
    const char *ip = q417_params_text(params);
    const int32_t port = params[1];
    const int32_t timeout = params[2];
    const int32_t guard = params[Q417_PARAM_GUARD];
    if (!drv::GuardInRange(guard))
        return Q417_E_PARAM;
    return drv::Init(handle, {}, [&](int32_t &error) {
        auto t = drv::OpenUdp(ip, port, timeout, error);
        if (t)
            t->SetGuard(std::chrono::microseconds(guard));
        return t;
    });
}

#else
#error "Q417_DRIVER_KIND must be 0..4"
#endif

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(SetConfig)(int32_t handle, int32_t rate,
                                                    int32_t timeout, int32_t retries)
{
    return drv::SetConfig(handle, rate, timeout, retries);
}

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(GetConfig)(int32_t handle, int32_t *rate,
                                                    int32_t *timeout, int32_t *retries)
{
    return drv::GetConfig(handle, rate, timeout, retries);
}

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Send)(int32_t handle, const int32_t *request,
                                               int32_t *reply, int32_t *x, int32_t *status)
{
    return drv::Send(handle, request, reply, x, status);
}

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Done)(int32_t *handle)
{
    return drv::Done(handle);
}

// Optional: hosts look it up without requiring it (q417drv.h).
Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(SetGuard)(int32_t handle, int32_t microseconds)
{
    return drv::SetGuard(handle, microseconds);
}

// Optional, as SetGuard is.
Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Late)(int32_t handle, int32_t waitMs, int32_t *late,
                                               int32_t *count)
{
    return drv::Late(handle, waitMs, late, count);
}

Q417_EXPORT int32_t Q417_CALL Q417_ENTRY(Error)(int32_t code, int32_t *text)
{
    return drv::Error(code, text);
}

} // extern "C"
