/* Compiled as C on purpose: it keeps q417drv.h a clean C interface. */
#include "fake_driver.h"

#include <stdio.h>
#include <string.h>

#ifndef FAKE_PREFIX
#error FAKE_PREFIX must name the entry prefix, e.g. QCOM417_
#endif

#define CAT2(a, b) a##b
#define CAT(a, b) CAT2(a, b)
#define ENTRY(suffix) CAT(FAKE_PREFIX, suffix)

static struct fake_state state = {.init_handle = 0x417, .done_handle_out = 0};

Q417_EXPORT struct fake_state *fake_get_state(void)
{
    return &state;
}

static void note(const char *entry)
{
    size_t used = strlen(state.log);
    snprintf(state.log + used, sizeof state.log - used, "%s%s", used ? " " : "", entry);
}

Q417_EXPORT int32_t Q417_CALL ENTRY(Version)(void)
{
    note("Version");
    return Q417_INTERFACE_VERSION;
}

static int32_t init_common(int32_t *handle)
{
    if (state.init_result == 0)
        *handle = state.init_handle;
    return state.init_result;
}

#if FAKE_INIT_FORM == 1
Q417_EXPORT int32_t Q417_CALL ENTRY(Init)(int32_t *handle, int32_t param)
{
    note("Init");
    state.init_form = 1;
    state.init_param = param;
    return init_common(handle);
}
#elif FAKE_INIT_FORM == 2
Q417_EXPORT int32_t Q417_CALL ENTRY(Init)(int32_t *handle)
{
    note("Init");
    state.init_form = 2;
    return init_common(handle);
}
#else
Q417_EXPORT int32_t Q417_CALL ENTRY(Init)(int32_t *handle, const int32_t *params)
{
    const char *ip = q417_params_text(params);
    note("Init");
    state.init_form = 3;
    memcpy(state.init_params, params, sizeof state.init_params);
    snprintf(state.init_ip_text, sizeof state.init_ip_text, "%s", ip ? ip : "(null)");
    return init_common(handle);
}
#endif

Q417_EXPORT int32_t Q417_CALL ENTRY(SetConfig)(int32_t handle, int32_t rate, int32_t timeout,
                                               int32_t retries)
{
    note("SetConfig");
    state.setconfig_args[0] = handle;
    state.setconfig_args[1] = rate;
    state.setconfig_args[2] = timeout;
    state.setconfig_args[3] = retries;
    return state.setconfig_result;
}

#ifndef FAKE_NO_GETCONFIG
Q417_EXPORT int32_t Q417_CALL ENTRY(GetConfig)(int32_t handle, int32_t *rate, int32_t *timeout,
                                               int32_t *retries)
{
    (void)handle;
    note("GetConfig");
    if (rate)
        *rate = state.setconfig_args[1];
    if (timeout)
        *timeout = state.setconfig_args[2];
    if (retries)
        *retries = state.setconfig_args[3];
    return Q417_OK;
}
#endif

Q417_EXPORT int32_t Q417_CALL ENTRY(Send)(int32_t handle, const int32_t *request, int32_t *reply,
                                          int32_t *x, int32_t *status)
{
    int32_t n = state.send_count++;
    note("Send");
    state.send_handle = handle;
    memcpy(state.send_request, request, sizeof state.send_request);
    if (n < FAKE_SCRIPT_LEN)
        memcpy(state.requests[n], request, sizeof state.requests[n]);
    if (n < state.script_len && n < FAKE_SCRIPT_LEN) {
        const struct fake_reply *r = &state.script[n];
        memcpy(reply, r->d, sizeof r->d);
        *x = r->x;
        *status = r->status;
        return r->result;
    }
    memcpy(reply, state.send_reply, sizeof state.send_reply);
    *x = state.send_x;
    *status = state.send_status;
    return state.send_result;
}

Q417_EXPORT int32_t Q417_CALL ENTRY(Done)(int32_t *handle)
{
    note("Done");
    if (state.on_done)
        state.on_done();
    state.done_handle = *handle;
    *handle = state.done_handle_out;
    return state.done_result;
}

Q417_EXPORT int32_t Q417_CALL ENTRY(Error)(int32_t code, int32_t *text)
{
    char buf[Q417_ARRAY_LEN];
    size_t i;
    note("Error");
    state.error_code = code;
    snprintf(buf, sizeof buf, "fake error %d", (int)code);
    memset(text, 0, Q417_ARRAY_LEN * sizeof *text);
    for (i = 0; buf[i] != '\0' && i + 1 < Q417_ARRAY_LEN; ++i)
        text[i + 1] = (unsigned char)buf[i];
    return Q417_OK;
}
