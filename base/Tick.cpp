#include "KelvoBase.h"

#include <chrono>
#if defined(__linux__)
#include <time.h>
#endif

extern "C" unsigned int Kelvo_THREAD_GetTickCount(void)
{
#if defined(__linux__)
    // The coarse clock: the monotonic time of the last scheduler tick (a few
    // milliseconds behind at most), read without the time counter, which
    // costs tens of nanoseconds a read on virtual machines. A tick count is
    // read for every depth record of a redundant client: it needs no more.
    timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) == 0)
        return static_cast<unsigned int>(static_cast<unsigned long long>(ts.tv_sec) * 1000u +
                                         static_cast<unsigned long long>(ts.tv_nsec) / 1000000u);
#endif
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // Wraps at 32 bits like the tick counts it stands for.
    return static_cast<unsigned int>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
