// Where Python threads wait for what the library's thread brings: one lock
// and one condition for a source of records and its state, how many wait,
// and the asyncio wake-up.
//
//   producer (library's thread)            consumers (Python)
//   lock; change; w = DepthAdded/Changed   Wait(timeout, ready): GIL let go,
//   unlock; Notify(w)  ------------------>   cv, slices of 100 ms for Ctrl-C
//                      ------------------> Arm(least) + Fd(): the event loop
//                                            watches Fd(), Drain()s it
//
// A wake-up costs a system call, so producers wake only whom a change
// concerns: a reader waiting for one record at the first, one waiting for
// more when the queue reaches its count, an armed event loop once per
// arming.
#pragma once

#include "Gil.h"
#include "Wakeup.h"

#include <pybind11/pybind11.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace mdpy {

class WaitRoom {
public:
    static constexpr std::size_t Never = ~std::size_t(0);
    // Seconds from which a timeout means no limit (math.inf included).
    static constexpr double MaxTimeout = 3e9;

    // What a change must wake (Notify it after unlocking `mu`).
    struct Wake {
        bool threads = false;
        bool loop = false;
    };

    // Guards the owner's queues and state, and the fields below.
    std::mutex mu;
    bool closed = false; // readers stop waiting, and end once drained
    int waiters = 0;     // threads blocked in Wait
    int running = 0;     // Python callbacks in progress (close waits for them)

    // Waits, with the GIL let go, until ready() (called under `mu`) is true,
    // the room is closed (when `endOnClose`) or the time is up (negative: no
    // limit, as from MaxTimeout on). A timeout of 0 looks once, GIL held. A signal handler that
    // raises (Ctrl-C) ends the wait with that exception.
    template <class F>
    bool Wait(double timeout, F ready, bool endOnClose = true);

    // Producer side, under `mu`: `queued` records are queued now.
    Wake DepthAdded(std::size_t queued);
    // Producer side, under `mu`: anything else changed (an event, the login
    // state, closing).
    Wake Changed();
    void Notify(Wake w);

    // Waits until the queue holds `least` records (or anything changes).
    void WaitForDepth(std::size_t least) { wakeAt_ = std::min(wakeAt_, least); }
    void DoneWaitingForDepth() { wakeAt_ = Never; }

    // asyncio: the descriptor to watch (-1 when none can be made), and the
    // arming that makes the next relevant change signal it once: `least`
    // queued records, or any other change.
    int Fd();
    void Arm(std::size_t least);
    void Drain() { wakeup_.Drain(); }

    // In a child made by fork(): no other thread exists, but the locks may
    // have been held by one and the descriptor is the parent's.
    void ForgetAfterFork();

private:
    std::condition_variable cv_;
    std::size_t wakeAt_ = Never; // queue length a batch reader waits for
    std::size_t loopAt_ = Never; // queue length an armed event loop waits for
    bool loopArmed_ = false;
    Wakeup wakeup_;
};

template <class F>
bool WaitRoom::Wait(double timeout, F ready, bool endOnClose)
{
    using Clock = std::chrono::steady_clock;
    if (timeout == 0) {
        std::lock_guard<std::mutex> lk(mu);
        return ready();
    }
    // Past a century the deadline would overflow the clock: no limit then.
    const bool forever = timeout < 0 || !(timeout < MaxTimeout);
    const Clock::time_point deadline = forever
        ? Clock::time_point::max()
        : Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
    for (;;) {
        bool got = false, over = false;
        {
            GilRelease unlocked;
            std::unique_lock<std::mutex> lk(mu);
            // Wake up now and then to let Python run its signal handlers.
            const Clock::time_point slice = std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
            ++waiters;
            cv_.wait_until(lk, slice, [&] { return (got = ready()) || (endOnClose && closed); });
            --waiters;
            over = (endOnClose && closed) || (!forever && Clock::now() >= deadline);
        }
        if (got)
            return true;
        if (over)
            return false;
        if (PyErr_CheckSignals() != 0)
            throw pybind11::error_already_set();
    }
}

} // namespace mdpy
