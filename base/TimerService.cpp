#include "TimerService.h"

#include "KelvoBase.h"
#include "inline/ForcedUnwind.h"

#include <limits>
#include <mutex>

namespace kelvo {

namespace {

constexpr std::int64_t kNotArmed = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kFiring = std::numeric_limits<std::int64_t>::min();

std::int64_t Ticks(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

} // namespace

TimerService::TimerService(Loop& loop)
    : loop_(loop), lock_(&RoundTrip, &loop), queue_(KELVO_TIMER_MAX_PENDING), armed_(kNotArmed),
      timer_(loop.Context())
{}

void TimerService::RoundTrip(void* loop)
{
    static_cast<Loop*>(loop)->Call([] {});
}

std::uint32_t TimerService::SetOnLoop(Kelvo_TimerState& state, std::int64_t deadline, int user)
{
    std::uint32_t id;
    bool arm;
    if (lock_.TryEnterFromLoop()) {
        LoopLock::BiasedSection section(lock_);
        id = ArmLocked(state, deadline, user, arm);
    } else {
        std::lock_guard<SpinLock> lock(lock_.Spin());
        id = ArmLocked(state, deadline, user, arm);
    }
    if (arm)
        ArmAsio(deadline);
    return id;
}

std::uint32_t TimerService::ArmLocked(Kelvo_TimerState& state, std::int64_t deadline, int user, bool& earlier)
{
    const std::uint32_t id = queue_.Arm(&state, deadline, user);
    earlier = deadline < armed_;
    if (earlier)
        armed_ = deadline;
    return id;
}

void TimerService::ClearOnLoopSpun(Kelvo_TimerState& state, std::uint32_t id)
{
    std::lock_guard<SpinLock> lock(lock_.Spin());
    queue_.Cancel(&state, id);
}

std::uint32_t TimerService::SetOffLoop(Kelvo_TimerState& state, std::int64_t deadline, int user)
{
    std::uint32_t id;
    bool post = false;
    {
        std::lock_guard<LoopLock> lock(lock_);
        id = queue_.Arm(&state, deadline, user);
        if (deadline < armed_) {
            armed_ = deadline;
            post = !rearmPosted_;
            rearmPosted_ = true;
        }
    }
    if (post)
        loop_.Post([this] { Rearm(); });
    return id;
}

void TimerService::ClearOffLoop(Kelvo_TimerState& state, std::uint32_t id)
{
    std::unique_lock<LoopLock> lock(lock_);
    queue_.Cancel(&state, id);
    // An expiry already taken off the queue may be running on the loop.
    expiryDone_.wait(lock, [&] { return !state.inFlight; });
}

void TimerService::Release(Kelvo_TimerState* state)
{
    if (loop_.InThread()) {
        std::unique_lock<SpinLock> lock(lock_.Spin());
        queue_.CancelAll(state);
        if (state->inFlight) {
            // Destroyed inside its own OnTimer: Fire's caller frees it.
            state->orphaned = true;
            state->timer = nullptr;
            return;
        }
    } else {
        std::unique_lock<LoopLock> lock(lock_);
        queue_.CancelAll(state);
        expiryDone_.wait(lock, [&] { return !state->inFlight; });
    }
    delete state;
}

void TimerService::ArmAsio(std::int64_t deadline)
{
    timer_.expires_at(Clock::time_point(std::chrono::nanoseconds(deadline)));
    const std::uint64_t seq = ++armSeq_;
    timer_.async_wait([this, seq](const asio::error_code&) { OnAsioTimer(seq); });
}

void TimerService::Rearm()
{
    std::unique_lock<SpinLock> lock(lock_.Spin());
    rearmPosted_ = false;
    if (armed_ == kFiring)
        return; // the end of the expiry run arms
    if (queue_.Empty()) {
        // What the claim was made for is gone: nothing is armed for it.
        armed_ = kNotArmed;
        return;
    }
    const std::int64_t earliest = queue_.EarliestDeadline();
    armed_ = earliest;
    lock.unlock();
    ArmAsio(earliest);
}

void TimerService::OnAsioTimer(std::uint64_t seq)
{
    // A wait superseded by a later arm (cancelled, or already queued when
    // re-armed) carries an old sequence number.
    if (seq != armSeq_)
        return;
    const std::int64_t now = Ticks(Clock::now());
    std::unique_lock<SpinLock> lock(lock_.Spin());
    armed_ = kFiring;
    // Timers armed by the expiries themselves wait for the next round, even
    // with a zero interval: no expiry can starve the loop.
    const std::uint64_t limit = queue_.NextSerial();
    TimerQueue::Due due;
    while (queue_.PopDue(now, limit, due)) {
        auto* state = static_cast<Kelvo_TimerState*>(due.owner);
        state->inFlight = true;
        lock.unlock();
        try {
            Fire(state, due);
        } catch (...) {
            // Only a forced unwind gets here: the loop thread is ending.
            // Whoever waits for this expiry must not wait for ever.
            lock.lock();
            EndExpiry(state);
            throw;
        }
        lock.lock();
        EndExpiry(state);
    }
    armed_ = kNotArmed;
    if (queue_.Empty())
        return;
    const std::int64_t earliest = queue_.EarliestDeadline();
    armed_ = earliest;
    lock.unlock();
    ArmAsio(earliest);
}

void TimerService::EndExpiry(Kelvo_TimerState* state)
{
    state->inFlight = false;
    if (state->orphaned)
        delete state;
    else
        expiryDone_.notify_all();
}

void TimerService::Fire(Kelvo_TimerState* state, const TimerQueue::Due& due)
{
    try {
        state->timer->OnTimer(due.id, 0, due.user);
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...)
    {
        // The expiry is lost, the service is not: carry on with the others.
    }
}

} // namespace kelvo
