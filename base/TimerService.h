// The process-wide timer service: every Kelvo_Timer's pending timers in one
// TimerQueue under one lock, and ONE asio::steady_timer on the loop armed
// for the earliest deadline.
//
// Re-arming an asio timer costs system calls; a heap operation costs tens of
// nanoseconds. So the asio timer is re-armed only when the earliest deadline
// moves earlier; when it fires and nothing is due (the earliest was cleared),
// it is simply re-armed for the new earliest. That keeps the per-frame
// ClearTimer + SetTimer pair of an idle-timer re-arm free of system calls.
//
// That pair runs on the loop for every frame received, so its path on the
// loop is inline here, down to the queue: one clock read, one thread check
// and one lock section each, no call that another thread's path needs.
#pragma once

#include "DeadlineClock.h"
#include "Loop.h"
#include "LoopLock.h"
#include "TimeScale.h"
#include "TimerQueue.h"

#include <asio/steady_timer.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#define KELVO_HOT_INLINE __forceinline
#else
#define KELVO_HOT_INLINE inline __attribute__((always_inline))
#endif

class Kelvo_Timer;

// One Kelvo_Timer's share of the service. Guarded by the service's lock.
struct Kelvo_TimerState : kelvo::TimerOwner {
    explicit Kelvo_TimerState(Kelvo_Timer* t, unsigned g) : timer(t), generation(g) {}
    Kelvo_Timer* timer;
    const unsigned generation; // ForkGeneration.h
    bool inFlight = false;     // an OnTimer of this object is running
    bool orphaned = false;     // destroyed inside its own OnTimer: freed after it
};

namespace kelvo {

// One per loop: a forked child's loop has its own.
class TimerService {
public:
    static TimerService& Get() { return Loop::Get().Timers(); }

    KELVO_HOT_INLINE std::uint32_t Set(Kelvo_TimerState& state, std::uint32_t ms, int user)
    {
        const std::int64_t deadline = clock_.StartNs() + ScaledDelay(ms).count();
        if (!loop_.InThread())
            return SetOffLoop(state, deadline, user);
        if (!lock_.TryEnterFromLoop())
            return SetOnLoop(state, deadline, user);
        std::uint32_t id;
        bool inPlace;
        bool arm = false;
        {
            // Nothing in here throws: no landing pad, no register spilled
            // for one.
            LoopLock::BiasedSection section(lock_);
            inPlace = queue_.ArmInPlace(&state, deadline, user, id);
            if (inPlace && deadline < armed_) {
                armed_ = deadline;
                arm = true;
            }
        }
        if (!inPlace)
            return SetOnLoop(state, deadline, user);
        if (arm)
            ArmAsio(deadline);
        return id;
    }

    KELVO_HOT_INLINE void Clear(Kelvo_TimerState& state, std::uint32_t id)
    {
        if (!loop_.InThread()) {
            ClearOffLoop(state, id);
        } else if (!lock_.TryEnterFromLoop()) {
            ClearOnLoopSpun(state, id);
        } else {
            LoopLock::BiasedSection section(lock_);
            queue_.Cancel(&state, id);
        }
    }

    // Cancels everything of the object, waits for its expiry in flight when
    // called off the loop, and frees the state (at once or after the expiry).
    void Release(Kelvo_TimerState* state);

private:
    friend class Loop;
    explicit TimerService(Loop& loop);
    ~TimerService() = delete;

    static void RoundTrip(void* loop);
    // The loop's paths when arming needs more than the parked node or
    // another thread holds or waits for the lock.
    std::uint32_t SetOnLoop(Kelvo_TimerState& state, std::int64_t deadline, int user);
    void ClearOnLoopSpun(Kelvo_TimerState& state, std::uint32_t id);
    // Under either lock; earlier: the asio timer is to be set for deadline.
    std::uint32_t ArmLocked(Kelvo_TimerState& state, std::int64_t deadline, int user, bool& earlier);
    std::uint32_t SetOffLoop(Kelvo_TimerState& state, std::int64_t deadline, int user);
    void ClearOffLoop(Kelvo_TimerState& state, std::uint32_t id);
    void ArmAsio(std::int64_t deadline);
    void OnAsioTimer(std::uint64_t seq);
    void Rearm();
    // Fires one expiry; lets only a forced unwind out.
    void Fire(Kelvo_TimerState* state, const TimerQueue::Due& due);
    // With the lock held, after the expiry of state returned.
    void EndExpiry(Kelvo_TimerState* state);

    Loop& loop_;
    const DeadlineClock clock_;
    LoopLock lock_;
    std::condition_variable_any expiryDone_;
    TimerQueue queue_;
    // The deadline the asio timer is set to, or is about to be set to by a
    // queued Rearm; kFiring while expiries run (the end of the run arms).
    std::int64_t armed_;
    bool rearmPosted_ = false;
    // Loop thread only.
    asio::steady_timer timer_;
    std::uint64_t armSeq_ = 0;
};

} // namespace kelvo
