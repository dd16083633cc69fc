#include "WaitRoom.h"

#include <new>

namespace mdpy {

WaitRoom::Wake WaitRoom::DepthAdded(std::size_t queued)
{
    Wake w;
    w.threads = waiters > 0 && (queued == 1 || queued == wakeAt_);
    if (loopArmed_ && queued >= loopAt_) {
        w.loop = true;
        loopArmed_ = false;
        loopAt_ = Never;
    }
    return w;
}

WaitRoom::Wake WaitRoom::Changed()
{
    Wake w;
    w.threads = waiters > 0;
    w.loop = loopArmed_;
    loopArmed_ = false;
    loopAt_ = Never;
    return w;
}

void WaitRoom::Notify(Wake w)
{
    if (w.threads)
        cv_.notify_all();
    if (w.loop)
        wakeup_.Signal();
}

int WaitRoom::Fd()
{
    std::lock_guard<std::mutex> lk(mu);
    return wakeup_.Fd();
}

void WaitRoom::Arm(std::size_t least)
{
    bool now;
    {
        std::lock_guard<std::mutex> lk(mu);
        loopArmed_ = true;
        loopAt_ = std::min(loopAt_, std::max<std::size_t>(1, least));
        now = closed; // nothing more will change: wake at once
    }
    if (now)
        wakeup_.Signal();
}

void WaitRoom::ForgetAfterFork()
{
    // The old objects are abandoned, not destroyed: destroying a lock held
    // by a thread that no longer exists is undefined.
    new (&mu) std::mutex;
    new (&cv_) std::condition_variable;
    waiters = 0;
    running = 0;
    closed = true;
    loopArmed_ = false;
    wakeup_.ForgetAfterFork();
}

} // namespace mdpy
