// A front's frames held back before they go out (--delay-ms, --jitter-ms):
// each leaves its delay plus a jitter drawn uniformly from [0, jitter]
// after it was queued, and never before the one queued ahead of it (a link
// keeps its order). The jitter is drawn from a seed of its own, so that two
// fronts serving the same feed are delayed independently.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <random>
#include <utility>

namespace mdfront {

template <class Item>
class DelayLine {
public:
    using Clock = std::chrono::steady_clock;

    DelayLine(std::chrono::microseconds delay, std::chrono::microseconds jitter, std::uint64_t seed)
        : delay_(delay), jitter_(jitter), rng_(seed)
    {}

    bool Active() const { return delay_.count() > 0 || jitter_.count() > 0; }
    bool Empty() const { return held_.empty(); }
    Clock::time_point NextDue() const { return held_.front().first; }

    void Push(Clock::time_point now, Item item)
    {
        auto due = now + delay_;
        if (jitter_.count() > 0)
            due +=
                std::chrono::microseconds(std::uniform_int_distribution<long long>(0, jitter_.count())(rng_));
        if (!held_.empty() && due < held_.back().first)
            due = held_.back().first;
        held_.emplace_back(due, std::move(item));
    }

    // Hands every item due by `now` to `take`, in order.
    template <class Take>
    void Release(Clock::time_point now, Take take)
    {
        while (!held_.empty() && held_.front().first <= now) {
            take(std::move(held_.front().second));
            held_.pop_front();
        }
    }

    void Clear() { held_.clear(); }

private:
    std::chrono::microseconds delay_;
    std::chrono::microseconds jitter_;
    std::mt19937_64 rng_;
    std::deque<std::pair<Clock::time_point, Item>> held_;
};

} // namespace mdfront
