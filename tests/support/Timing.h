// Upper bounds on how long something takes, held on a machine that other
// work keeps busy. There any single run may be delayed, at random and now
// and then by tens of milliseconds, while a fault that costs time (a wire
// time counted twice, a whole time-out waited for) costs it in every run.
// So the bound holds for the fastest of several runs, and the runs stop at
// the first that keeps it: on a quiet machine that is the first run.
// Header only: the Windows driver tests use it without the simulator.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <vector>

namespace timing
{

using Us = std::chrono::microseconds;

// How many runs: of a few milliseconds to tens each, where under wine on a
// loaded machine 58 % of the 5 ms time-outs measured ran late (0.6^50 is
// below 10^-10); of a whole time-out each (hundreds of ms), where no run
// measured came near its bound.
constexpr int ShortTries = 50, LongTries = 5;

struct Runs {
    Us fastest = Us::max();
    std::vector<Us> took; // every run, in order, for the failure message
};

inline std::ostream &operator<<(std::ostream &out, const Runs &r)
{
    out << r.took.size() << " runs, in us:";
    for (const Us t : r.took)
        out << ' ' << t.count();
    return out;
}

// Runs `run` (which returns the time it measured) up to `tries` times,
// until one takes at most `bound`. A run that fails one of the test's
// checks ends the tries: its failure is reported, and each further run
// could wait out a whole time-out for nothing.
template <typename Run> Runs FastestOf(int tries, Us bound, Run &&run)
{
    const ::testing::TestResult &result =
        *::testing::UnitTest::GetInstance()->current_test_info()->result();
    Runs r;
    for (int i = 0; i < tries && r.fastest > bound; ++i) {
        const int reported = result.total_part_count();
        const Us t = std::chrono::duration_cast<Us>(run());
        r.took.push_back(t);
        r.fastest = std::min(r.fastest, t);
        if (result.total_part_count() != reported)
            break;
    }
    return r;
}

// The time `f` takes.
template <typename F> Us Took(F &&f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<Us>(std::chrono::steady_clock::now() - t0);
}

} // namespace timing
