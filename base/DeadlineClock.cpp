#include "DeadlineClock.h"

#ifdef __linux__
#include <dlfcn.h>
#endif

namespace kelvo {

#ifdef __linux__

namespace {

// The vDSO's clock_gettime, or the C library's where it has none (or the
// C library does not list it).
int (*VdsoClockGettime())(clockid_t, timespec*)
{
#if defined(__x86_64__)
    const char* const name = "__vdso_clock_gettime";
#elif defined(__aarch64__)
    const char* const name = "__kernel_clock_gettime";
#else
    const char* const name = nullptr;
#endif
    void* vdso = name != nullptr ? dlopen("linux-vdso.so.1", RTLD_NOW | RTLD_NOLOAD) : nullptr;
    void* read = vdso != nullptr ? dlsym(vdso, name) : nullptr;
    if (read == nullptr)
        return &clock_gettime;
    return reinterpret_cast<int (*)(clockid_t, timespec*)>(read);
}

} // namespace

DeadlineClock::DeadlineClock() : read_(VdsoClockGettime())
{
    timespec res{};
    timespec probe{};
    if (clock_getres(CLOCK_MONOTONIC_COARSE, &res) == 0 && read_(CLOCK_MONOTONIC_COARSE, &probe) == 0) {
        clock_ = CLOCK_MONOTONIC_COARSE;
        padNs_ = 2 * (static_cast<std::int64_t>(res.tv_sec) * 1000000000 + res.tv_nsec);
    } else {
        // No coarse clock: the full one, exact.
        clock_ = CLOCK_MONOTONIC;
        padNs_ = 0;
    }
}

#else

DeadlineClock::DeadlineClock() = default;

#endif

} // namespace kelvo
