// The LAN transport over a socket layer the test controls (FakeSocket.h):
// a converter whose port never stops sending stale frames, faster than
// any drain, must still not hold an exchange past its time-out. (A drain
// after a failed exchange that read until the queue was empty once held
// an exchange 2.4 s against its 300 ms time-out.)
#include "FakeSocket.h"
#include "Transport.h"
#include "Wire.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(LanFlood, AnExchangeEndsWithinItsTimeOutWhateverArrives)
{
    uint8_t seq = 0;
    fakenet::TheWorld().next = [&] {
        const wire::ReplyFrame f = wire::Encode(wire::Reply{seq++, 99, 0, 0, {0xDD, 0, 0, 0}});
        return std::vector<uint8_t>(f.begin(), f.end());
    };
    int32_t error = 0;
    std::unique_ptr<drv::Transport> t = drv::OpenUdp("127.0.0.1", 5000, 50, error);
    ASSERT_TRUE(t) << error;

    // Two exchanges: the first gives up and leaves the second a drain.
    std::promise<std::pair<int32_t, std::chrono::nanoseconds>> done;
    std::future<std::pair<int32_t, std::chrono::nanoseconds>> result = done.get_future();
    std::thread([&] {
        wire::Reply reply;
        t->Exchange(wire::Request{1, 1, 100, 0, 0, {}}, reply);
        const auto start = std::chrono::steady_clock::now();
        const int32_t r = t->Exchange(wire::Request{2, 1, 100, 0, 0, {}}, reply);
        done.set_value({r, std::chrono::steady_clock::now() - start});
    }).detach();
    // Only a hang is bounded here; a process stuck in a drain cannot be
    // left behind, so it ends.
    if (result.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "the exchange never ended under the flood";
        std::fflush(nullptr);
        std::_Exit(1);
    }
    const auto [status, took] = result.get();
    EXPECT_EQ(status, Q417_E_TIMEOUT);
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, 2s) << "its time-out, and room for a loaded machine";
    EXPECT_EQ(fakenet::TheWorld().sent.size(), 2u);
}

} // namespace
