#include "KelvoBase.h"

#include <chrono>

extern "C" unsigned int Kelvo_THREAD_GetTickCount(void)
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // Wraps at 32 bits like the tick counts it stands for.
    return static_cast<unsigned int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
