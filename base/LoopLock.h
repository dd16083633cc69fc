// The timer service's lock, biased towards the loop thread.
//
// The loop thread clears and re-arms an idle timer for every frame it
// receives; taking the spin lock (an atomic exchange) for each of the two
// made that pair more than twice as slow. So the loop thread enters with a
// plain store and a plain load, and the rare other threads pay instead:
// they announce themselves, then make the operating system issue a memory
// barrier on every thread of the process (membarrier on Linux,
// FlushProcessWriteBuffers on Windows) before they look whether the loop is
// inside. Either the loop's "inside" store is visible to them after that
// barrier, or the loop's following load sees their announcement and it takes
// the spin lock like everybody else.
//
// Where no such barrier exists (an old kernel, Wine, whose version of the
// Windows call is a stub that does nothing) or a thread sanitizer could not
// follow it, the loop takes the spin lock too: one announcement is kept for
// good, so the loop always finds one.
//
// A barrier that fails after it was registered (it has never been seen to)
// leaves the thread unsure whether the loop is inside, so the lock gives up
// its bias for good: the thread keeps an announcement for good, then waits
// for one round trip through the loop before it proceeds. Once the loop has
// run something queued after that announcement, it has left any section it
// entered without seeing it, and every later section of the loop sees it.
// (Failing hard instead would take the application down for a slower lock.)
#pragma once

#include "SpinLock.h"

#include <atomic>

namespace kelvo {

class LoopLock {
public:
    // Runs nothing on the loop thread and returns once the loop has run it
    // (or at once when the loop no longer runs); never called on the loop.
    using RoundTrip = void (*)(void* context);

    LoopLock(RoundTrip roundTrip, void* context);

    // Any thread but the loop's; BasicLockable, for condition_variable_any.
    void lock();
    void unlock();

    // The loop thread, for short sections that never wait: while a
    // BiasedSection made with TryEnterFromLoop() true lives, or under the
    // spin lock when it returned false. The usual path is two plain stores
    // and a load, inline, with no flag to carry to the section's end.
    bool TryEnterFromLoop()
    {
        loopInside_.store(true, std::memory_order_relaxed);
        // Order the store before the load on this thread; the other side's
        // process-wide barrier does the rest.
        std::atomic_signal_fence(std::memory_order_seq_cst);
        if (foreign_.load(std::memory_order_acquire) == 0)
            return true;
        loopInside_.store(false, std::memory_order_release);
        return false;
    }

    class BiasedSection {
    public:
        explicit BiasedSection(LoopLock& l) : inside_(l.loopInside_) {}
        ~BiasedSection() { inside_.store(false, std::memory_order_release); }
        BiasedSection(const BiasedSection&) = delete;
        BiasedSection& operator=(const BiasedSection&) = delete;

    private:
        std::atomic<bool>& inside_;
    };

    // The loop thread, for sections that may wait or unlock in the middle:
    // the spin lock alone, which every other thread takes as well.
    SpinLock& Spin() { return spin_; }

    // Whether the loop still enters with plain stores.
    bool BiasedForTest() const { return mode_.load(std::memory_order_acquire) == Biased; }

private:
    enum Mode { Biased, Switching, Spinning };

    void GiveUpBias();
    void ConfirmSwitch();

    SpinLock spin_;
    std::atomic<bool> loopInside_{false};
    // Threads announced, plus one kept for good once the lock is not biased.
    std::atomic<int> foreign_;
    std::atomic<int> mode_;
    const RoundTrip roundTrip_;
    void* const context_;
};

} // namespace kelvo
