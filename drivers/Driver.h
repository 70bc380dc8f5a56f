// The work behind the seven exported entries, shared by all five libraries:
// the handle table, argument checks and the mapping between the entries'
// int32 arrays and wire frames. Each library links its own copy, so each
// has its own table.
#pragma once

#include "Transport.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace drv {

using Opener = std::function<std::unique_ptr<Transport>(int32_t &error)>;

// Opens a connection through `open` and writes its handle. `device` names
// what the connection occupies exclusively; while one connection holds a
// non-empty name, another Init of the same name gets Q417_E_BUSY.
int32_t Init(int32_t *handle, const std::string &device, const Opener &open);
int32_t SetConfig(int32_t handle, int32_t rate, int32_t timeout, int32_t retries);
int32_t GetConfig(int32_t handle, int32_t *rate, int32_t *timeout, int32_t *retries);
int32_t Send(int32_t handle, const int32_t *request, int32_t *reply, int32_t *x,
             int32_t *status);
int32_t Done(int32_t *handle);
// The silence guard of an open connection, in us (q417drv.h).
int32_t SetGuard(int32_t handle, int32_t microseconds);
// The late replies of an open connection (q417drv.h).
int32_t Late(int32_t handle, int32_t waitMs, int32_t *late, int32_t *count);

// Writes the text of `code` as the Error entry does.
int32_t Error(int32_t code, int32_t *text);

// The UTF-8 text of `code`: every library code has its own, anything else
// the generic one.
const char *ErrorText(int32_t code);

} // namespace drv
