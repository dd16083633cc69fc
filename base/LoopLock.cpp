#include "LoopLock.h"

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

#include <thread>

namespace kelvo {

namespace {

#if defined(__SANITIZE_THREAD__)
#define KELVO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KELVO_TSAN 1
#endif
#endif

bool CanBarrierAllThreads()
{
#if defined(KELVO_TSAN)
    return false;
#elif defined(__linux__)
    return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
#elif defined(_WIN32)
    // Wine (8.0 at least) implements FlushProcessWriteBuffers as a stub that
    // does nothing, and a Windows build may well run there: without the
    // barrier the loop could enter while another thread is inside.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
#else
    return false;
#endif
}

// False when the barrier may not have reached every thread.
bool BarrierAllThreads()
{
#if defined(__linux__)
    return syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0;
#elif defined(_WIN32)
    FlushProcessWriteBuffers();
    return true;
#else
    return false;
#endif
}

} // namespace

LoopLock::LoopLock(RoundTrip roundTrip, void* context) : roundTrip_(roundTrip), context_(context)
{
    const bool biased = CanBarrierAllThreads();
    foreign_.store(biased ? 0 : 1, std::memory_order_relaxed);
    mode_.store(biased ? Biased : Spinning, std::memory_order_relaxed);
}

void LoopLock::lock()
{
    foreign_.fetch_add(1, std::memory_order_seq_cst);
    const int mode = mode_.load(std::memory_order_acquire);
    if (mode == Biased) {
        if (BarrierAllThreads()) {
            while (loopInside_.load(std::memory_order_acquire))
                std::this_thread::yield();
        } else {
            GiveUpBias();
        }
    } else if (mode == Switching) {
        // Another thread's barrier failed and its round trip may not be
        // over: this thread cannot rely on it.
        ConfirmSwitch();
    }
    spin_.lock();
}

void LoopLock::unlock()
{
    spin_.unlock();
    foreign_.fetch_sub(1, std::memory_order_release);
}

void LoopLock::GiveUpBias()
{
    // Kept for good, and published before the mode: whoever sees Switching
    // sees it too.
    foreign_.fetch_add(1, std::memory_order_relaxed);
    int expected = Biased;
    mode_.compare_exchange_strong(expected, Switching, std::memory_order_release, std::memory_order_relaxed);
    ConfirmSwitch();
}

void LoopLock::ConfirmSwitch()
{
    roundTrip_(context_);
    int expected = Switching;
    mode_.compare_exchange_strong(expected, Spinning, std::memory_order_release, std::memory_order_relaxed);
}

} // namespace kelvo
