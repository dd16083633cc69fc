#include "LoopLock.h"

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

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
    return true;
#else
    return false;
#endif
}

void BarrierAllThreads()
{
#if defined(__linux__)
    syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0);
#elif defined(_WIN32)
    FlushProcessWriteBuffers();
#endif
}

}  // namespace

LoopLock::LoopLock() : m_biased(CanBarrierAllThreads())
{
}

void LoopLock::lock()
{
    m_foreign.fetch_add(1, std::memory_order_seq_cst);
    if (m_biased) {
        BarrierAllThreads();
        while (m_loopInside.load(std::memory_order_acquire))
            std::this_thread::yield();
    }
    m_spin.lock();
}

void LoopLock::unlock()
{
    m_spin.unlock();
    m_foreign.fetch_sub(1, std::memory_order_release);
}

}  // namespace kelvo
