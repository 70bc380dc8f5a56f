/* A driver library for the monkey test: it passes every call on to the real
 * library of its kind, reports each answer, and lets a connection reach only
 * the simulator the test started. The LAN kind opens only 127.0.0.1 at the
 * simulator's port and the COM kind only COM1, which the test points at the
 * simulator's pseudo-terminal; every other target is refused at Init as a
 * converter that cannot be opened. Whatever is typed into the connection
 * dialog, nothing leaves the machine and no other port is written to.
 *
 * Built once per kind from guard_driver.c, like the real libraries. Like the
 * binding, it loads the real library afresh at every Init and unloads it
 * after Done, so the real library's state lives exactly as long as it would
 * without the guard. */
#ifndef GUARD_DRIVER_H
#define GUARD_DRIVER_H

#include "q417drv.h"

#ifdef __cplusplus
extern "C" {
#endif

struct guard_state {
    int32_t udp_port; /* the one UDP port the LAN kind may open */
    int32_t refused;  /* Init calls refused so far */
    /* The bus rate in force, in Bd, as the answers so far set it: an
     * accepted SetConfig's rate; for COM also 9600 at each Init, the rate the
     * driver opens its line at. The LAN converter keeps its rate from one
     * connection to the next, so Init leaves it alone there. The test sets
     * the rate a fresh bus starts at. */
    int32_t rate;
    /* Called after each Init, SetConfig and Send with the entry's name, the
     * status it reported (its result, or Send's *status when the result is
     * 0), and for Send the request and reply arrays (null otherwise). `rate`
     * is already updated when it is called. */
    void (*on_answer)(const char *entry, int32_t status, const int32_t *request,
                      const int32_t *reply);
};

Q417_EXPORT struct guard_state *guard_get_state(void);

#ifdef __cplusplus
}
#endif

#endif
