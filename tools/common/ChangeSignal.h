// Waiting for a condition over state that other threads change. The owner
// guards its state with its own mutex; every change, made under it, ends
// with Changed(). A waiter re-evaluates its predicate after each change,
// with the mutex released (the predicate may take it), until it holds or
// the time is up. No change is missed between an evaluation and the wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace mdtools {

class ChangeSignal {
public:
    // With the owner's mutex held.
    void Changed()
    {
        ++version_;
        cv_.notify_all();
    }

    // Without the owner's mutex held. Returns pred's last value.
    bool WaitUntil(std::mutex& mu, std::chrono::milliseconds timeout, const std::function<bool()>& pred)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::unique_lock<std::mutex> lock(mu);
        for (;;) {
            const std::uint64_t seen = version_;
            lock.unlock();
            if (pred())
                return true;
            lock.lock();
            if (!cv_.wait_until(lock, deadline, [&] { return version_ != seen; })) {
                lock.unlock();
                return pred();
            }
        }
    }

private:
    std::condition_variable cv_;
    std::uint64_t version_ = 0;
};

} // namespace mdtools
