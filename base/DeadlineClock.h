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
// A kernel without the coarse clock, and every other system, reads the full
// monotonic clock (steady_clock), unpadded.
#pragma once

#include "Loop.h"

#include <chrono>
#include <cstdint>

#ifdef __linux__
#include <time.h>
#endif

namespace kelvo {

class DeadlineClock {
public:
    DeadlineClock();

    // steady_clock's time in nanoseconds since its epoch, as a deadline
    // counts from it.
    std::int64_t StartNs() const
    {
#ifdef __linux__
        timespec now; // the reader fills it: the clock was tried when chosen
        read_(clock_, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec + padNs_;
#else
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
#endif
    }

#ifdef __linux__
private:
    using Read = int (*)(clockid_t, timespec*);

    // The kernel's own reader in the vDSO, called directly: the C library's
    // clock_gettime wraps the same call, at about half its cost again.
    Read read_;
    clockid_t clock_;
    std::int64_t padNs_;
#endif
};

} // namespace kelvo
