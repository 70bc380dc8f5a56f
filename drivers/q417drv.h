/*
 * Driver interface of the 417 module family.
 *
 * One driver library per interface kind. Each exports seven entries named
 * prefix + suffix, where the prefix is the library's own:
 *
 *   kind  library (Windows)  library (POSIX)     prefix
 *   0     QCOM417.DLL        libqcom417.so       QCOM417_
 *   1     QPCI417.DLL        libqpci417.so       QPCI417_
 *   2     QPCI1417.DLL       libqpci1417.so      QPCI1417_
 *   3     QUSB1417.DLL       libqusb1417.so      QUSB1417_
 *   4     QLX1417.DLL        libqlx1417.so       QLX1417_
 *
 * and the suffixes Version, Init, SetConfig, GetConfig, Send, Done, Error.
 * The program rejects a library that lacks any of the seven, although it
 * never calls Version or GetConfig.
 *
 * Every entry returns a 32-bit signed status: 0 is success, 1..99 are the
 * library's own errors (see Q417_E_* below). Codes from 100 up belong to the
 * program and never come from a library.
 *
 * All entries are called from one thread, one at a time; a call may block
 * for at most the time-out the entry names. No entry keeps a pointer it was
 * given past its return, except where stated.
 *
 * This header is plain C and is compiled as C and as C++.
 */
#ifndef Q417DRV_H
#define Q417DRV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention. On 32-bit Windows the entries are __stdcall, as
 * programs written for the interface cards expect; elsewhere there is only
 * one convention and the macro is empty. */
#if defined(_WIN32) && !defined(_WIN64)
#define Q417_CALL __stdcall
#else
#define Q417_CALL
#endif

/* Export macro for driver implementations. */
#if defined(_WIN32)
#define Q417_EXPORT __declspec(dllexport)
#else
#define Q417_EXPORT __attribute__((visibility("default")))
#endif

/* Elements of a data array: requests, replies and texts. Each element holds
 * one byte value 0..255. */
#define Q417_ARRAY_LEN 100

/* Elements of the Init parameter block of the LAN converter (kind 4). */
#define Q417_PARAMS_LEN 16

/* Status codes of the libraries. Every library's Error entry has a text
 * for each of them, 9 and 10 included: the program raises those two
 * itself and asks the loaded library for their text. */
enum {
    Q417_OK = 0,
    Q417_E_HANDLE = 1,      /* handle unknown, or the connection is closed */
    Q417_E_PARAM = 2,       /* null pointer or argument out of range */
    Q417_E_OPEN = 3,        /* the port, card or converter cannot be opened */
    Q417_E_RATE = 4,        /* bus speed the interface cannot set */
    Q417_E_TIMEOUT = 5,     /* no valid reply within the time-out */
    Q417_E_CRC = 6,         /* a reply arrived with a wrong checksum */
    Q417_E_FRAME = 7,       /* a reply arrived that is not a valid frame */
    Q417_E_IO = 8,          /* the operating system refused a read or write */
    Q417_E_COMPOSE = 9,     /* raised by the program: request not composed */
    Q417_E_NOTLOADED = 10,  /* raised by the program: kind above 4 or entry missing */
    Q417_E_IPADDR = 11,     /* the IP address text is not a dotted IPv4 address */
    Q417_E_BUSY = 12,       /* the connection is already open */
    Q417_E_PORT_TAKEN = 13, /* another program holds the serial port */
    Q417_E_CONV_RATE = 14,  /* the LAN converter refused the bus speed */
    Q417_E_MOD_CMD = 20,    /* the module does not know the command */
    Q417_E_MOD_REG = 21,    /* the module has no such register */
    Q417_E_MOD_VALUE = 22,  /* the module refused the value */
    Q417_E_MOD_COPY = 23    /* the two copies of a value in the request differ */
};

/* Version: the library's interface version, Q417_INTERFACE_VERSION. */
#define Q417_INTERFACE_VERSION 1
typedef int32_t(Q417_CALL *q417_version_fn)(void);

/* Init opens the connection and writes a non-zero handle through `handle`.
 * It blocks at most for opening the device. On failure it leaves *handle
 * unchanged. A serial port is held exclusively from Init to Done: while
 * another program, or another connection reaching the same device under
 * another port number, has it open, Init gives Q417_E_PORT_TAKEN (a second
 * Init of the same port number in one library gives Q417_E_BUSY). There
 * are three forms, one per group of kinds:
 *
 *   kinds 0, 1   (int32_t *handle, int32_t param)
 *                param: COM port number (kind 0) or ISA base address (kind 1)
 *   kinds 2, 3   (int32_t *handle)
 *   kind 4       (int32_t *handle, const int32_t *params)
 *                params: Q417_PARAMS_LEN elements, read during the call only:
 *                [0]  low 32 bits of the address of the IP address text
 *                     (zero-terminated, dotted decimal)
 *                [1]  UDP port, [2] time-out in ms
 *                [3]  high 32 bits of that address (0 on 32-bit platforms)
 *                [4..15] 0, but for this project's drivers [8], see
 *                     Q417_PARAM_GUARD
 *                The text is valid only during Init; a driver copies it.
 */
typedef int32_t(Q417_CALL *q417_init_port_fn)(int32_t *handle, int32_t param);
typedef int32_t(Q417_CALL *q417_init_plain_fn)(int32_t *handle);
typedef int32_t(Q417_CALL *q417_init_params_fn)(int32_t *handle, const int32_t *params);

/* The address of the IP text travels in two 32-bit halves so that the block
 * keeps its 32-bit layout on 64-bit platforms. */
static inline void q417_params_set_text(int32_t *params, const char *text)
{
    uint64_t a = (uint64_t)(uintptr_t)text;
    params[0] = (int32_t)(uint32_t)(a & 0xFFFFFFFFu);
    params[3] = (int32_t)(uint32_t)(a >> 32);
}

static inline const char *q417_params_text(const int32_t *params)
{
    uint64_t a = (uint64_t)(uint32_t)params[0] | ((uint64_t)(uint32_t)params[3] << 32);
    return (const char *)(uintptr_t)a;
}

/* Silence guard: an extension of this project's drivers, which other
 * drivers of the family lack. A caller that sets it must still work with
 * whole time-outs.
 *
 * An address nobody answers costs a whole time-out, yet silence is
 * certain once the reply's first byte is overdue. With a guard of g us a
 * connection ends such an exchange with Q417_E_TIMEOUT as soon as no reply
 * byte has arrived by
 *     request wire time + module turnaround + one byte time + g
 * counted from the request's sending. A reply that has begun is awaited
 * up to the time-out as before. g covers whatever lies between the driver
 * and the wire (scheduling, a USB adapter's latency, the LAN). 0 turns the
 * guard off.
 *
 * Kind 4 takes it in element Q417_PARAM_GUARD of Init's block (Init gives
 * Q417_E_PARAM for a value outside 0..Q417_GUARD_MAX_US) and hands it to
 * the converter with each SetConfig. Every kind also exports the optional
 * entry prefix + "SetGuard", which sets it on an open connection (kind 4:
 * in force from the next SetConfig); a host looks it up without requiring
 * it. */
#define Q417_PARAM_GUARD 8
#define Q417_GUARD_MAX_US 65535
typedef int32_t(Q417_CALL *q417_setguard_fn)(int32_t handle, int32_t microseconds);

/* Late replies: an extension of this project's drivers, optional as
 * SetGuard is; a host looks it up without requiring it, and one that never
 * calls it sees the drivers behave as before.
 *
 * An exchange that ends without its reply (its time-out, or the silence
 * guard) leaves its request open. When a reply for it comes later, decoded
 * whole and from the module that was asked, the connection keeps it as a
 * late reply instead of dropping it as stale. A module that answers slower
 * than the time-out allowed (a slow controller, a USB adapter's latency, a
 * loaded PC, a converter on a busy network) is then known to be there. The
 * LAN converter forwards a reply that comes after its silence datagram;
 * the COM driver recognises a whole frame of an earlier request on the
 * line; the in-process kinds know when their module's reply would have
 * arrived. A damaged reply names nobody and is not kept; a copy of a reply
 * already taken is not late. Late replies are heard during later exchanges
 * and during this call, and kept (the newest 256) until handed over.
 *
 *   prefix + "Late" (int32_t handle, int32_t waitMs, int32_t *late,
 *                    int32_t *count)
 *   waitMs  0..60000: while no late reply is kept, how long to listen for
 *           one; the call returns as soon as one is kept. 0 takes in what
 *           has arrived and does not wait.
 *   late    Q417_ARRAY_LEN elements written by the driver: up to
 *           Q417_LATE_MAX records of Q417_LATE_FIELDS elements, oldest
 *           first: [0] the bus address that answered, [1] the bus rate in
 *           Bd at which its request went, [2] the time in us from the
 *           request's sending to the reply's arrival.
 *   count   the number of records written, 0..Q417_LATE_MAX; a record is
 *           forgotten once handed over.
 * Returns 0, Q417_E_HANDLE, Q417_E_PARAM (a null pointer, waitMs out of
 * range) or Q417_E_IO. */
#define Q417_LATE_FIELDS 3
#define Q417_LATE_MAX 32
typedef int32_t(Q417_CALL *q417_late_fn)(int32_t handle, int32_t waitMs, int32_t *late,
                                         int32_t *count);

/* SetConfig sets the bus speed in Bd. `timeout` is the time in ms the
 * driver waits for a module's reply; `retries`, always 2 from the program,
 * is how many further attempts the interface hardware may make on a
 * corrupted frame (drivers that cannot retry ignore it).
 * Kind 4 tells the converter the speed and blocks until it acknowledges,
 * at most for Init's time-out: Q417_E_CONV_RATE when it refuses the speed,
 * Q417_E_TIMEOUT when no acknowledgement comes. On any failure the previous
 * setting stays in force. */
typedef int32_t(Q417_CALL *q417_setconfig_fn)(int32_t handle, int32_t rate, int32_t timeout,
                                              int32_t retries);

/* GetConfig reads back what SetConfig set; any pointer may be null. */
typedef int32_t(Q417_CALL *q417_getconfig_fn)(int32_t handle, int32_t *rate, int32_t *timeout,
                                              int32_t *retries);

/* Send makes one request/response exchange with a module and blocks until
 * the reply or the time-out.
 *   request  Q417_ARRAY_LEN elements: [0] bus address, [1] command,
 *            [2] sub-command, [3] X, [4..7] D0..D3; the rest unused.
 *   reply    Q417_ARRAY_LEN elements written by the driver: [0..3] D0..D3.
 *   x        the reply's X in its low byte.
 *   status   the exchange's status: 0, or a module or transport error.
 * The result is 0 or a code that overrides *status. On any failure the
 * driver sets *status (or returns) non-zero; it never reports success for
 * an exchange that did not complete. */
typedef int32_t(Q417_CALL *q417_send_fn)(int32_t handle, const int32_t *request, int32_t *reply,
                                         int32_t *x, int32_t *status);

/* Done closes the connection of *handle and writes 0 through it. */
typedef int32_t(Q417_CALL *q417_done_fn)(int32_t *handle);

/* Error writes the text for `code` into `text`, Q417_ARRAY_LEN elements,
 * one Windows-1250 character code per element from element 1 on, element 0
 * left 0, ending at the first 0 element. Any code gets a text. */
typedef int32_t(Q417_CALL *q417_error_fn)(int32_t code, int32_t *text);

#ifdef __cplusplus
}
#endif

#endif /* Q417DRV_H */
