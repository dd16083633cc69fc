// A Kelvo_Timer that records (id, user) of every expiry and can run a hook
// inside OnTimer; and the timers' busiest mix of threads, checked.
#pragma once

#include "FrameClient.h"
#include "KelvoBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace kelvotest {

class RecordingTimer : public Kelvo_Timer {
public:
    void OnTimer(unsigned int id, int reserved, int user) override
    {
        if (Kelvo_LOOP_InThread() == 0 || reserved != 0)
            ++errors;
        if (hook)
            hook(id);
        // Last, and notified under the lock: once a waiter sees the expiry
        // it may destroy this object, whose members the base destructor
        // cannot protect.
        std::lock_guard<std::mutex> lock(mutex_);
        fired.push_back(id);
        users.push_back(user);
        changed_.notify_all();
    }
    bool WaitFired(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return fired.size() >= n; });
    }
    std::vector<unsigned int> Fired()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return fired;
    }

    std::function<void(unsigned int)> hook;
    std::vector<unsigned int> fired;
    std::vector<int> users;
    std::atomic<int> errors{0};

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// The loop thread re-arms its idle timer with no atomic operation while
// `threads` other threads each arm `each` timers and clear every other one:
// nothing is lost, nothing cleared fires.
inline void ExpectReArmsAndForeignTimersFireOnce(int threads, int each)
{
    RecordingTimer idle;
    RecordingTimer others;
    std::atomic<int> running{threads};
    unsigned int last = 0;
    std::thread loopJob([&] {
        RunOnLoop([&] {
            unsigned int id = 0;
            for (long i = 0; i < 20000 || running.load() > 0; ++i) {
                idle.ClearTimer(id);
                id = idle.SetTimer(60000, 1, 0, 0, nullptr);
            }
            idle.ClearTimer(id);
            last = idle.SetTimer(0, 2, 0, 0, nullptr);
        });
    });
    std::mutex keptMutex;
    std::set<unsigned int> kept;
    std::vector<std::thread> arming;
    for (int t = 0; t < threads; ++t) {
        arming.emplace_back([&, t] {
            for (int i = 0; i < each; ++i) {
                // A timer to be cleared is never due before its clear: an
                // expiry already running when ClearTimer is called still
                // runs, and a preempted thread could let that happen.
                const bool clear = i % 2 == 0;
                const unsigned int ms = clear ? 60000u : static_cast<unsigned int>(i % 5);
                const unsigned int id = others.SetTimer(ms, t, 0, 0, nullptr);
                if (clear) {
                    others.ClearTimer(id);
                } else {
                    std::lock_guard<std::mutex> lock(keptMutex);
                    kept.insert(id);
                }
            }
            --running;
        });
    }
    for (std::thread& thread : arming)
        thread.join();
    loopJob.join();
    ASSERT_TRUE(idle.WaitFired(1));
    ASSERT_TRUE(others.WaitFired(kept.size()));
    EXPECT_EQ(idle.Fired(), std::vector<unsigned int>{last});
    const std::vector<unsigned int> fired = others.Fired();
    EXPECT_EQ(fired.size(), kept.size());
    EXPECT_EQ(std::set<unsigned int>(fired.begin(), fired.end()), kept);
}

} // namespace kelvotest
