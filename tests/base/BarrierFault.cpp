#include "BarrierFault.h"

#include <dlfcn.h>
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace kelvotest {

std::atomic<bool> BarrierFault::failRegistration{false};
std::atomic<bool> BarrierFault::failBarrier{false};
std::atomic<int> BarrierFault::registrations{0};
std::atomic<int> BarrierFault::barriers{0};

} // namespace kelvotest

using kelvotest::BarrierFault;

namespace {
using Real = long (*)(long, ...);
}

extern "C" long syscall(long number, ...) noexcept
{
    // Six arguments, as the C library's own syscall() reads them.
    long a[6];
    va_list args;
    va_start(args, number);
    for (long& arg : a)
        arg = va_arg(args, long);
    va_end(args);
    if (number == SYS_membarrier) {
        if (a[0] == MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) {
            ++BarrierFault::registrations;
            if (BarrierFault::failRegistration.load()) {
                errno = EINVAL;
                return -1;
            }
        } else if (a[0] == MEMBARRIER_CMD_PRIVATE_EXPEDITED) {
            ++BarrierFault::barriers;
            if (BarrierFault::failBarrier.load()) {
                errno = EPERM;
                return -1;
            }
        }
    }
    // No function-local static: its guard may wait in a futex, through here.
    static std::atomic<Real> s_real{nullptr};
    Real real = s_real.load(std::memory_order_acquire);
    if (real == nullptr) {
        real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "syscall"));
        s_real.store(real, std::memory_order_release);
    }
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
