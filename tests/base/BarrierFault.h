// A fake for one failure mode: the process-wide memory barrier (membarrier)
// failing. The test program defines syscall() itself, so every call of it in
// the process, the base library's included, comes here first; membarrier
// calls are counted and fail on demand, everything else goes to the C
// library's syscall().
#pragma once

#include <atomic>

namespace kelvotest {

struct BarrierFault {
    // Set before the call they are to fail.
    static std::atomic<bool> failRegistration;
    static std::atomic<bool> failBarrier;
    // Calls seen, failed ones included.
    static std::atomic<int> registrations;
    static std::atomic<int> barriers;
};

} // namespace kelvotest
