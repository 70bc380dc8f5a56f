/* A driver library for tests: it records every call and answers as the
 * test sets it up. Built once per prefix and Init form from fake_driver.c.
 * A test reaches the state of a loaded copy through fake_state(). */
#ifndef FAKE_DRIVER_H
#define FAKE_DRIVER_H

#include "q417drv.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FAKE_LOG_LEN 512
#define FAKE_SCRIPT_LEN 64

struct fake_reply {
    int32_t result, status, x, d[4];
};

struct fake_state {
    /* what the library was called with */
    char log[FAKE_LOG_LEN];               /* entry names in call order, ' '-separated */
    int32_t init_form;                    /* 1 port, 2 plain, 3 params */
    int32_t init_param;                   /* port form */
    int32_t init_params[Q417_PARAMS_LEN]; /* params form */
    char init_ip_text[64];                /* the text params[0]/[3] pointed to during Init */
    int32_t setconfig_args[4];
    int32_t send_handle;
    int32_t send_request[Q417_ARRAY_LEN];
    int32_t send_count;
    int32_t done_handle;
    int32_t error_code;

    /* how it answers */
    int32_t init_result;
    int32_t init_handle; /* written through the pointer when init_result is 0 */
    int32_t setconfig_result;
    int32_t send_result;
    int32_t send_status;
    int32_t send_x;
    int32_t send_reply[4]; /* D0..D3 */
    int32_t done_result;
    int32_t done_handle_out;

    /* The first script_len Send calls answer from script[] instead of the
     * send_* fields; requests[] keeps elements 0..7 of the first requests. */
    int32_t script_len;
    struct fake_reply script[FAKE_SCRIPT_LEN];
    int32_t requests[FAKE_SCRIPT_LEN][8];

    /* Called inside Done, so a test can look at the world at that moment. */
    void (*on_done)(void);

    /* Random answers. With fail_percent above 0, each Init, SetConfig and
     * Send fails with that chance, with a code drawn from a table in
     * fake_driver.c, and a Send that passes answers random bytes or echoes
     * D0..D3 of its request: the script and the send_* answers are then
     * unused. random_seed is the generator's state, advanced by every draw. */
    int32_t fail_percent;
    uint32_t random_seed;
    /* Called after each Init, SetConfig and Send with the entry's name, the
     * status it reported (its result, or Send's *status when the result is
     * 0), and for Send the request and reply arrays (null otherwise). */
    void (*on_answer)(const char *entry, int32_t status, const int32_t *request,
                      const int32_t *reply);

    /* Writing past the arrays, as a faulty library might. Above 4, Send
     * writes reply elements 4..send_reply_len-1 with FAKE_FILL(i); above 0,
     * Error writes error_text_len characters FAKE_TEXT_CHAR(i) from element
     * 1 on, then a 0. */
    int32_t send_reply_len;
    int32_t error_text_len;

    /* Late replies, for a library built with the Late entry (FAKE_LATE):
     * record i is handed over by the first Late call after Send call number
     * late_after[i] (counted from 1) has returned; a call with nothing to
     * hand over sleeps its waitMs. late_waits[] keeps the waitMs of the
     * first calls. */
    int32_t late_len;
    int32_t late_after[FAKE_SCRIPT_LEN];
    int32_t late[FAKE_SCRIPT_LEN][Q417_LATE_FIELDS];
    int32_t late_given;
    int32_t late_calls;
    int32_t late_waits[FAKE_SCRIPT_LEN];
    /* Above 0: Late writes this many records, past the array's end (a
     * faulty library); at most 1300, what the binding's spare room holds. */
    int32_t late_claim;
};

#define FAKE_FILL(i) (0x4000 + (i))
#define FAKE_TEXT_CHAR(i) ('A' + (i) % 26)

/* Text the fake's Error entry gives for a code: "fake error <code>". */

Q417_EXPORT struct fake_state *fake_get_state(void);

#ifdef __cplusplus
}
#endif

#endif
