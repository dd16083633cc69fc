// The clock deadlines count from: the same clock as steady_clock, read
// through the vDSO's reader where there is one, never more than a coarse
// tick behind it and ahead by no more than its pad (two ticks).
#include "DeadlineClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#ifdef __linux__
#include <time.h>
#endif

namespace kelvo {
namespace {

std::int64_t CoarseTickNs()
{
#ifdef __linux__
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC_COARSE, &res) == 0)
        return static_cast<std::int64_t>(res.tv_sec) * 1000000000 + res.tv_nsec;
#endif
    return 0;
}

std::int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

TEST(DeadlineClock, ReadsSteadyClockAtMostATickBehindAndTwoAhead)
{
    const DeadlineClock clock;
    const std::int64_t tick = CoarseTickNs();
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t before = SteadyNs();
        const std::int64_t start = clock.StartNs();
        const std::int64_t after = SteadyNs();
        ASSERT_GE(start, before - tick) << "read " << i;
        ASSERT_LE(start, after + 2 * tick) << "read " << i;
    }
}

} // namespace
} // namespace kelvo
