// Where a timer's deadline counts from: the moment SetTimer is called, read
// at every call. A time cached at the start of a loop handler would be too
// old by the time a handler that served thousands of frames, or ran a slow
// application callback, arms its last timer.
//
// Linux reads the coarse monotonic clock: the same clock as steady_clock at
// the resolution of the kernel's tick (4 ms on one kernel, 10 on another),
// in a few nanoseconds instead of the tens a full read costs on a virtual
// machine. It lags the full clock by up to a tick, and right after the
// processor was idle by a little more (seen: 4.7 ms with a 4 ms tick), so the
// reading is padded by twice the resolution: a deadline is not early by more
// than the clock's resolution even then, and is late by at most two ticks.
// Elsewhere steady_clock itself, unpadded.
#pragma once

#include "Loop.h"

#include <chrono>
#include <cstdint>

#ifdef __linux__
#include <time.h>
#endif

namespace kelvo {

#ifdef __linux__

inline std::int64_t CoarseClockPadNs()
{
    static const std::int64_t pad = [] {
        timespec res{};
        if (clock_getres(CLOCK_MONOTONIC_COARSE, &res) != 0)
            return std::int64_t(10000000);  // no coarse clock: assume a slow tick
        return 2 * (static_cast<std::int64_t>(res.tv_sec) * 1000000000 + res.tv_nsec);
    }();
    return pad;
}

inline Clock::time_point DeadlineStart()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const std::int64_t ns =
        static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec + CoarseClockPadNs();
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

#else

inline Clock::time_point DeadlineStart()
{
    return Clock::now();
}

#endif

}  // namespace kelvo
