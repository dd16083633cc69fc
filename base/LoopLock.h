// The timer service's lock, biased towards the loop thread.
//
// The loop thread clears and re-arms an idle timer for every frame it
// receives; an atomic exchange per lock is about half of that pair's cost.
// So the loop thread enters with a plain store and a plain load, and the
// rare other threads pay instead: they announce themselves, then make the
// operating system issue a memory barrier on every thread of the process
// (membarrier on Linux, FlushProcessWriteBuffers on Windows) before they
// look whether the loop is inside. Either the loop's "inside" store is
// visible to them after that barrier, or the loop's following load sees
// their announcement and it takes the spin lock like everybody else.
//
// Where no such barrier exists (an old kernel) or a thread sanitizer could
// not follow it, the loop takes the spin lock too.
#pragma once

#include "SpinLock.h"

#include <atomic>

namespace kelvo {

class LoopLock {
public:
    LoopLock();

    // Any thread but the loop's; BasicLockable, for condition_variable_any.
    void lock();
    void unlock();

    // The loop thread, for short sections that never wait.
    class LoopSection {
    public:
        explicit LoopSection(LoopLock& l) : m_lock(l), m_spun(!l.m_biased)
        {
            if (!m_spun) {
                m_lock.m_loopInside.store(true, std::memory_order_relaxed);
                // Order the store before the load on this thread; the other
                // side's process-wide barrier does the rest.
                std::atomic_signal_fence(std::memory_order_seq_cst);
                if (m_lock.m_foreign.load(std::memory_order_acquire) == 0)
                    return;
                m_lock.m_loopInside.store(false, std::memory_order_release);
                m_spun = true;
            }
            m_lock.m_spin.lock();
        }
        ~LoopSection()
        {
            if (m_spun)
                m_lock.m_spin.unlock();
            else
                m_lock.m_loopInside.store(false, std::memory_order_release);
        }
        LoopSection(const LoopSection&) = delete;
        LoopSection& operator=(const LoopSection&) = delete;

    private:
        LoopLock& m_lock;
        bool m_spun;
    };

    // The loop thread, for sections that may wait or unlock in the middle:
    // the spin lock alone, which every other thread takes as well.
    SpinLock& Spin() { return m_spin; }

private:
    SpinLock m_spin;
    const bool m_biased;
    std::atomic<bool> m_loopInside{false};
    std::atomic<int> m_foreign{0};
};

}  // namespace kelvo
