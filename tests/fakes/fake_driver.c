/* Compiled as C on purpose: it keeps q417drv.h a clean C interface. */
#include "fake_driver.h"

#include <stdio.h>
#include <string.h>

#ifdef FAKE_LATE
#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif
#endif

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

/* What a random failure reports: the libraries' own codes, then codes no
 * library may give, which the program has to survive as well. */
static const int32_t fake_random_codes[] = {1,  2,  3,  5,  6,  7,   8,   9,   10, 11,        12,
                                            20, 21, 22, 23, 99, 100, 255, 256, -1, 0x7FFFFFFF};

static uint32_t draw(void)
{
    uint32_t x = state.random_seed != 0 ? state.random_seed : 1u;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    state.random_seed = x;
    return x;
}

/* In random mode, whether this call fails; *code is then its status. */
static int random_failure(int32_t *code)
{
    if (state.fail_percent <= 0 || (int32_t)(draw() % 100) >= state.fail_percent)
        return 0;
    *code = fake_random_codes[draw() % (sizeof fake_random_codes / sizeof fake_random_codes[0])];
    return 1;
}

static int32_t random_send(const int32_t *request, int32_t *reply, int32_t *x, int32_t *status)
{
    int32_t code = 0;
    const int echo = (int)(draw() % 2);
    int i;
    /* Bytes arrive even with a failure: the program must not take them. */
    for (i = 0; i < 4; ++i)
        reply[i] = echo ? request[4 + i] : (int32_t)(draw() % 256);
    *x = (int32_t)(draw() % 256);
    *status = 0;
    if (!random_failure(&code))
        return 0;
    if (draw() % 2) {
        *status = code;
        return 0;
    }
    return code;
}

Q417_EXPORT int32_t Q417_CALL ENTRY(Version)(void)
{
    note("Version");
    return Q417_INTERFACE_VERSION;
}

static int32_t init_common(int32_t *handle)
{
    int32_t result = state.init_result;
    if (state.fail_percent > 0 && !random_failure(&result))
        result = 0;
    if (result == 0)
        *handle = state.init_handle;
    if (state.on_answer)
        state.on_answer("Init", result, NULL, NULL);
    return result;
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
    {
        int32_t result = state.setconfig_result;
        if (state.fail_percent > 0 && !random_failure(&result))
            result = 0;
        if (state.on_answer)
            state.on_answer("SetConfig", result, NULL, NULL);
        return result;
    }
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
    int32_t result, i;
    note("Send");
    state.send_handle = handle;
    memcpy(state.send_request, request, sizeof state.send_request);
    if (n < FAKE_SCRIPT_LEN)
        memcpy(state.requests[n], request, sizeof state.requests[n]);
    if (state.fail_percent > 0) {
        result = random_send(request, reply, x, status);
    } else if (n < state.script_len && n < FAKE_SCRIPT_LEN) {
        const struct fake_reply *r = &state.script[n];
        memcpy(reply, r->d, sizeof r->d);
        *x = r->x;
        *status = r->status;
        result = r->result;
    } else {
        memcpy(reply, state.send_reply, sizeof state.send_reply);
        *x = state.send_x;
        *status = state.send_status;
        result = state.send_result;
    }
    for (i = 4; i < state.send_reply_len; ++i)
        reply[i] = FAKE_FILL(i);
    if (state.on_answer)
        state.on_answer("Send", result != 0 ? result : *status, request, reply);
    return result;
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

#ifdef FAKE_LATE
static void pause_ms(int32_t ms)
{
#ifdef _WIN32
    Sleep((DWORD)ms);
#else
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&t, NULL);
#endif
}

Q417_EXPORT int32_t Q417_CALL ENTRY(Late)(int32_t handle, int32_t waitMs, int32_t *late,
                                          int32_t *count)
{
    int32_t n = 0;
    (void)handle;
    if (state.late_calls < FAKE_SCRIPT_LEN)
        state.late_waits[state.late_calls] = waitMs;
    ++state.late_calls;
    while (state.late_given < state.late_len && state.late_given < FAKE_SCRIPT_LEN &&
           state.late_after[state.late_given] <= state.send_count && n < Q417_LATE_MAX) {
        memcpy(late + n * Q417_LATE_FIELDS, state.late[state.late_given],
               sizeof state.late[state.late_given]);
        ++state.late_given;
        ++n;
    }
    if (n == 0 && waitMs > 0)
        pause_ms(waitMs);
    if (state.late_claim > 0) {
        /* Past its 100 elements, as a faulty library might. */
        for (n = 0; n < state.late_claim; ++n) {
            late[n * Q417_LATE_FIELDS] = n % 256;
            late[n * Q417_LATE_FIELDS + 1] = 9600;
            late[n * Q417_LATE_FIELDS + 2] = 1000;
        }
    }
    *count = n;
    return Q417_OK;
}
#endif

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
    if (state.error_text_len > 0) {
        for (i = 0; i < (size_t)state.error_text_len; ++i)
            text[i + 1] = FAKE_TEXT_CHAR(i);
        text[i + 1] = 0;
    }
    return Q417_OK;
}
