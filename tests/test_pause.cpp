// The register dialogs pause 1 ms between exchanges. Ending early would
// give a module less than the gap it is promised; ending late stretches a
// 12-register write at 115200 Bd, whose exchanges last 3 ms each.
#include "Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <vector>

using namespace std::chrono_literals;

namespace
{

// How long this thread has waited, ready to run, for a processor (Linux:
// the second field of its schedstat; 0 where the system does not tell).
// The pause promises to end on time only when it is given one, and on a
// busy machine it often waits milliseconds for it.
std::chrono::nanoseconds WaitedForAProcessor()
{
    std::ifstream in("/proc/thread-self/schedstat");
    long long running = 0, waiting = 0;
    in >> running >> waiting;
    return std::chrono::nanoseconds(in ? waiting : 0);
}

} // namespace

TEST(Pause, NeverEndsEarlyAndMostlyEndsOnTime)
{
#ifdef _WIN32
    GTEST_SKIP() << "on Windows the pause is Sleep, which ends on the timer's tick";
#endif
    using Clock = std::chrono::steady_clock;
    // Below the spun lead only the spin runs; 1 ms sleeps first.
    for (const std::chrono::microseconds length : {50us, 1000us}) {
        std::vector<Clock::duration> over;
        for (int i = 0; i < 15; ++i) {
            const auto waited = WaitedForAProcessor();
            const auto start = Clock::now();
            platform::Pause(length);
            const auto took = Clock::now() - start;
            EXPECT_GE(took, length) << "pause " << i << " of " << length.count() << " us";
            over.push_back(took - length - (WaitedForAProcessor() - waited));
        }
        // A plain timed sleep overshoots by ~60-100 µs, also with the wait
        // for a processor taken off; the median is spared what an
        // interrupt does to a single pause.
        std::nth_element(over.begin(), over.begin() + over.size() / 2, over.end());
        EXPECT_LT(over[over.size() / 2], 40us) << "pauses of " << length.count() << " us";
    }
}
