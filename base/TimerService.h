// The process-wide timer service: every Kelvo_Timer's pending timers in one
// TimerQueue under one lock, and ONE asio::steady_timer on the loop armed
// for the earliest deadline.
//
// Re-arming an asio timer costs system calls; a heap operation costs tens of
// nanoseconds. So the asio timer is re-armed only when the earliest deadline
// moves earlier; when it fires and nothing is due (the earliest was cleared),
// it is simply re-armed for the new earliest. That keeps the per-frame
// ClearTimer + SetTimer pair of an idle-timer re-arm free of system calls.
#pragma once

#include "Loop.h"
#include "LoopLock.h"
#include "TimerQueue.h"

#include <asio/steady_timer.hpp>

#include <condition_variable>
#include <cstdint>

class Kelvo_Timer;

// One Kelvo_Timer's share of the service. Guarded by the service's lock.
struct Kelvo_TimerState : kelvo::TimerOwner {
    explicit Kelvo_TimerState(Kelvo_Timer* t, unsigned g) : timer(t), generation(g) {}
    Kelvo_Timer* timer;
    const unsigned generation;  // ForkGeneration.h
    bool inFlight = false;  // an OnTimer of this object is running
    bool orphaned = false;  // destroyed inside its own OnTimer: freed after it
};

namespace kelvo {

// One per loop: a forked child's loop has its own.
class TimerService {
public:
    static TimerService& Get() { return Loop::Get().Timers(); }

    std::uint32_t Set(Kelvo_TimerState& state, std::uint32_t ms, int user);
    void Clear(Kelvo_TimerState& state, std::uint32_t id);
    // Cancels everything of the object, waits for its expiry in flight when
    // called off the loop, and frees the state (at once or after the expiry).
    void Release(Kelvo_TimerState* state);

private:
    friend class Loop;
    explicit TimerService(Loop& loop);
    ~TimerService() = delete;

    void ArmAsio(std::int64_t deadline);
    void OnAsioTimer(std::uint64_t seq);
    void Rearm();
    // Fires one expiry; lets only a forced unwind out.
    void Fire(Kelvo_TimerState* state, const TimerQueue::Due& due);
    // With the lock held, after the expiry of state returned.
    void EndExpiry(Kelvo_TimerState* state);

    Loop& m_loop;
    LoopLock m_lock;
    std::condition_variable_any m_expiryDone;
    TimerQueue m_queue;
    // The deadline the asio timer is set to, or is about to be set to by a
    // queued Rearm; kFiring while expiries run (the end of the run arms).
    std::int64_t m_armed;
    bool m_rearmPosted = false;
    // Loop thread only.
    asio::steady_timer m_timer;
    std::uint64_t m_armSeq = 0;
};

}  // namespace kelvo
