#include "Driver.h"

#include "q417drv.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <random>

namespace drv {

namespace {

struct Connection {
    int32_t handle = 0; // 0: slot free
    std::string device;
    std::unique_ptr<Transport> transport;
    int32_t rate = 0;
    int32_t timeout = 0;
    int32_t retries = 0;
    uint8_t seq = 0; /**< of the last request sent */
};

// The program holds one connection; a few slots leave room for tests and
// other hosts without letting a leaking caller grow the table.
constexpr std::size_t Slots = 8;
std::array<Connection, Slots> Table;

// Handles are never reused while the library is loaded, so a handle kept
// after Done cannot reach a later connection that took over its slot.
int32_t LastHandle = 0;

Connection *Find(int32_t handle)
{
    if (handle == 0)
        return nullptr;
    for (Connection &c : Table) {
        if (c.handle == handle)
            return &c;
    }
    return nullptr;
}

int32_t NextHandle()
{
    for (;;) {
        LastHandle = LastHandle == INT32_MAX ? 1 : LastHandle + 1;
        if (Find(LastHandle) == nullptr)
            return LastHandle;
    }
}

} // namespace

uint8_t FreshSeq()
{
    try {
        return uint8_t(std::random_device{}());
    } catch (...) {
        return uint8_t(std::chrono::steady_clock::now().time_since_epoch().count());
    }
}

int32_t Init(int32_t *handle, const std::string &device, const Opener &open)
{
    if (handle == nullptr)
        return Q417_E_PARAM;
    Connection *slot = nullptr;
    for (Connection &c : Table) {
        if (c.handle != 0 && !device.empty() && c.device == device)
            return Q417_E_BUSY;
        if (c.handle == 0 && slot == nullptr)
            slot = &c;
    }
    if (slot == nullptr)
        return Q417_E_BUSY;

    int32_t error = Q417_E_OPEN;
    std::unique_ptr<Transport> t = open(error);
    if (!t)
        return error != 0 ? error : Q417_E_OPEN;

    slot->device = device;
    slot->timeout = t->TimeoutMs();
    slot->rate = 0;
    slot->retries = 0;
    slot->seq = FreshSeq();
    slot->transport = std::move(t);
    slot->handle = NextHandle();
    *handle = slot->handle;
    return Q417_OK;
}

int32_t SetConfig(int32_t handle, int32_t rate, int32_t timeout, int32_t retries)
{
    Connection *c = Find(handle);
    if (c == nullptr)
        return Q417_E_HANDLE;
    if (const int32_t r = c->transport->Configure(rate, timeout); r != 0)
        return r;
    c->rate = rate;
    c->timeout = timeout;
    c->retries = retries;
    return Q417_OK;
}

int32_t GetConfig(int32_t handle, int32_t *rate, int32_t *timeout, int32_t *retries)
{
    const Connection *c = Find(handle);
    if (c == nullptr)
        return Q417_E_HANDLE;
    if (rate != nullptr)
        *rate = c->rate;
    if (timeout != nullptr)
        *timeout = c->timeout;
    if (retries != nullptr)
        *retries = c->retries;
    return Q417_OK;
}

int32_t Send(int32_t handle, const int32_t *request, int32_t *reply, int32_t *x,
             int32_t *status)
{
    auto fail = [&](int32_t code) {
        if (status != nullptr)
            *status = code;
        if (x != nullptr)
            *x = 0;
        if (reply != nullptr) {
            for (int i = 0; i < 4; ++i)
                reply[i] = 0;
        }
        return code;
    };

    Connection *c = Find(handle);
    if (c == nullptr)
        return fail(Q417_E_HANDLE);
    if (request == nullptr || reply == nullptr || x == nullptr || status == nullptr)
        return fail(Q417_E_PARAM);
    // A value that does not fit its byte would be cut on the wire and reach
    // the module as some other request.
    for (int i = 0; i < 8; ++i) {
        if (request[i] < 0 || request[i] > 0xFF)
            return fail(Q417_E_PARAM);
    }

    wire::Request rq;
    rq.seq = ++c->seq;
    rq.address = uint8_t(request[0]);
    rq.cmd = uint8_t(request[1]);
    rq.sub = uint8_t(request[2]);
    rq.x = uint8_t(request[3]);
    for (int i = 0; i < 4; ++i)
        rq.d[std::size_t(i)] = uint8_t(request[4 + i]);

    wire::Reply rp;
    if (const int32_t r = c->transport->Exchange(rq, rp); r != 0)
        return fail(r);
    for (int i = 0; i < 4; ++i)
        reply[i] = rp.d[std::size_t(i)];
    *x = rp.x;
    *status = rp.status;
    return Q417_OK;
}

int32_t SetGuard(int32_t handle, int32_t microseconds)
{
    Connection *c = Find(handle);
    if (c == nullptr)
        return Q417_E_HANDLE;
    if (!GuardInRange(microseconds))
        return Q417_E_PARAM;
    c->transport->SetGuard(std::chrono::microseconds(microseconds));
    return Q417_OK;
}

int32_t Late(int32_t handle, int32_t waitMs, int32_t *late, int32_t *count)
{
    Connection *c = Find(handle);
    if (c == nullptr)
        return Q417_E_HANDLE;
    if (late == nullptr || count == nullptr || waitMs < 0 || waitMs > MaxTimeoutMs)
        return Q417_E_PARAM;
    *count = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    if (const int32_t r = c->transport->Listen(until); r != 0)
        return r;
    LateReplies &kept = c->transport->Late();
    int32_t n = 0;
    for (; n < Q417_LATE_MAX && !kept.Empty(); ++n) {
        const LateReply r = kept.Take();
        int32_t *record = late + n * Q417_LATE_FIELDS;
        record[0] = r.address;
        record[1] = r.rate;
        record[2] = int32_t(std::min<int64_t>(r.after.count(), INT32_MAX));
    }
    *count = n;
    return Q417_OK;
}

int32_t Done(int32_t *handle)
{
    if (handle == nullptr)
        return Q417_E_PARAM;
    Connection *c = Find(*handle);
    if (c == nullptr)
        return Q417_E_HANDLE;
    *c = Connection{};
    *handle = 0;
    return Q417_OK;
}

} // namespace drv
