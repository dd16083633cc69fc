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

}  // namespace

LoopLock::LoopLock(RoundTrip roundTrip, void* context)
    : m_roundTrip(roundTrip), m_context(context)
{
    const bool biased = CanBarrierAllThreads();
    m_foreign.store(biased ? 0 : 1, std::memory_order_relaxed);
    m_mode.store(biased ? Biased : Spinning, std::memory_order_relaxed);
}

void LoopLock::lock()
{
    m_foreign.fetch_add(1, std::memory_order_seq_cst);
    const int mode = m_mode.load(std::memory_order_acquire);
    if (mode == Biased) {
        if (BarrierAllThreads()) {
            while (m_loopInside.load(std::memory_order_acquire))
                std::this_thread::yield();
        } else {
            GiveUpBias();
        }
    } else if (mode == Switching) {
        // Another thread's barrier failed and its round trip may not be
        // over: this thread cannot rely on it.
        ConfirmSwitch();
    }
    m_spin.lock();
}

void LoopLock::unlock()
{
    m_spin.unlock();
    m_foreign.fetch_sub(1, std::memory_order_release);
}

void LoopLock::GiveUpBias()
{
    // Kept for good, and published before the mode: whoever sees Switching
    // sees it too.
    m_foreign.fetch_add(1, std::memory_order_relaxed);
    int expected = Biased;
    m_mode.compare_exchange_strong(expected, Switching, std::memory_order_release, std::memory_order_relaxed);
    ConfirmSwitch();
}

void LoopLock::ConfirmSwitch()
{
    m_roundTrip(m_context);
    int expected = Switching;
    m_mode.compare_exchange_strong(expected, Spinning, std::memory_order_release, std::memory_order_relaxed);
}

}  // namespace kelvo
