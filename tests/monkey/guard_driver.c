/* Compiled as C, as the fake drivers are. */
#include "guard_driver.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#if !defined(GUARD_KIND) || !defined(GUARD_PREFIX) || !defined(GUARD_REAL)
#error GUARD_KIND, GUARD_PREFIX and GUARD_REAL select the kind and the real library
#endif

#define CAT2(a, b) a##b
#define CAT(a, b) CAT2(a, b)
#define ENTRY(suffix) CAT(GUARD_PREFIX, suffix)
#define TEXT2(a) #a
#define TEXT(a) TEXT2(a)

/* Only what the simulator serves. */
#define GUARD_IP "127.0.0.1"
#define GUARD_COM_PORT 1
/* The rate the COM driver puts its line at when it opens it. */
#define GUARD_COM_OPENING_RATE 9600

static struct guard_state state;
static void *real;

Q417_EXPORT struct guard_state *guard_get_state(void)
{
    return &state;
}

static void unload(void)
{
    if (real != NULL)
        dlclose(real);
    real = NULL;
}

/* The real library's entry `suffix`, or null when none is loaded. */
static void *real_entry(const char *suffix)
{
    char name[64];
    if (real == NULL)
        return NULL;
    snprintf(name, sizeof name, "%s%s", TEXT(GUARD_PREFIX), suffix);
    return dlsym(real, name);
}

/* Function pointers out of dlsym without an object-to-function cast. */
#define BIND(type, var, suffix)                                                                    \
    type var = NULL;                                                                               \
    do {                                                                                           \
        void *found_ = real_entry(suffix);                                                         \
        memcpy(&var, &found_, sizeof var);                                                         \
    } while (0)

static int32_t report(const char *entry, int32_t status, const int32_t *request,
                      const int32_t *reply)
{
    if (state.on_answer)
        state.on_answer(entry, status, request, reply);
    return status;
}

#if GUARD_KIND == 0 || GUARD_KIND == 4
static int32_t refuse(void)
{
    ++state.refused;
    return report("Init", Q417_E_OPEN, NULL, NULL);
}
#endif

Q417_EXPORT int32_t Q417_CALL ENTRY(Version)(void)
{
    return Q417_INTERFACE_VERSION;
}

#if GUARD_KIND == 0 || GUARD_KIND == 1
Q417_EXPORT int32_t Q417_CALL ENTRY(Init)(int32_t *handle, int32_t param)
{
    unload();
#if GUARD_KIND == 0
    if (param != GUARD_COM_PORT)
        return refuse();
#endif
    real = dlopen(GUARD_REAL, RTLD_NOW | RTLD_LOCAL);
    {
        BIND(q417_init_port_fn, init, "Init");
        const int32_t result = init != NULL ? init(handle, param) : Q417_E_OPEN;
#if GUARD_KIND == 0
        if (result == Q417_OK)
            state.rate = GUARD_COM_OPENING_RATE;
#endif
        return report("Init", result, NULL, NULL);
    }
}
#elif GUARD_KIND == 2 || GUARD_KIND == 3
Q417_EXPORT int32_t Q417_CALL ENTRY(Init)(int32_t *handle)
{
    unload();
    real = dlopen(GUARD_REAL, RTLD_NOW | RTLD_LOCAL);
    {
        BIND(q417_init_plain_fn, init, "Init");
        return report("Init", init != NULL ? init(handle) : Q417_E_OPEN, NULL, NULL);
    }
}
#else
Q417_EXPORT int32_t Q417_CALL ENTRY(Init)(int32_t *handle, const int32_t *params)
{
    const char *ip = params != NULL ? q417_params_text(params) : NULL;
    unload();
    if (ip == NULL || strcmp(ip, GUARD_IP) != 0 || params[1] != state.udp_port ||
        state.udp_port == 0)
        return refuse();
    real = dlopen(GUARD_REAL, RTLD_NOW | RTLD_LOCAL);
    {
        BIND(q417_init_params_fn, init, "Init");
        return report("Init", init != NULL ? init(handle, params) : Q417_E_OPEN, NULL, NULL);
    }
}
#endif

Q417_EXPORT int32_t Q417_CALL ENTRY(SetConfig)(int32_t handle, int32_t rate, int32_t timeout,
                                               int32_t retries)
{
    BIND(q417_setconfig_fn, f, "SetConfig");
    const int32_t result = f != NULL ? f(handle, rate, timeout, retries) : Q417_E_HANDLE;
    /* A refused configuration leaves the line, or the converter, as it was. */
    if (result == Q417_OK)
        state.rate = rate;
    return report("SetConfig", result, NULL, NULL);
}

Q417_EXPORT int32_t Q417_CALL ENTRY(GetConfig)(int32_t handle, int32_t *rate, int32_t *timeout,
                                               int32_t *retries)
{
    BIND(q417_getconfig_fn, f, "GetConfig");
    return f != NULL ? f(handle, rate, timeout, retries) : Q417_E_HANDLE;
}

Q417_EXPORT int32_t Q417_CALL ENTRY(Send)(int32_t handle, const int32_t *request, int32_t *reply,
                                          int32_t *x, int32_t *status)
{
    int32_t result;
    BIND(q417_send_fn, f, "Send");
    if (f == NULL) {
        *status = Q417_E_HANDLE;
        result = Q417_E_HANDLE;
    } else {
        result = f(handle, request, reply, x, status);
    }
    report("Send", result != 0 ? result : *status, request, reply);
    return result;
}

Q417_EXPORT int32_t Q417_CALL ENTRY(Done)(int32_t *handle)
{
    int32_t result;
    BIND(q417_done_fn, f, "Done");
    result = f != NULL ? f(handle) : Q417_E_HANDLE;
    unload();
    return result;
}

Q417_EXPORT int32_t Q417_CALL ENTRY(Error)(int32_t code, int32_t *text)
{
    /* Texts do not depend on a connection: a library loaded for them alone
     * is released at once. */
    void *own = real == NULL ? dlopen(GUARD_REAL, RTLD_NOW | RTLD_LOCAL) : NULL;
    void *saved = real;
    int32_t result;
    if (own != NULL)
        real = own;
    {
        BIND(q417_error_fn, f, "Error");
        result = f != NULL ? f(code, text) : Q417_E_NOTLOADED;
    }
    real = saved;
    if (own != NULL)
        dlclose(own);
    return result;
}
