// The loop thread's longest stall, measured by the library itself: the
// metrics thread posts a probe to the loop at each of its ticks and notes how
// long the loop took to run it. A loop held by a slow callback, a blocked
// application or the machine runs its probe late by as long. A probe still
// waiting counts as it stands, so a loop that hangs shows a stall that grows
// at every scrape. The longest since the last scrape is shown, and a scrape
// starts the next interval.
#pragma once

#include <atomic>
#include <cstdint>

namespace mdlink {
namespace metrics {

class LoopStall {
public:
    // The metrics thread's, at a tick: true when a probe should be posted
    // now (none is waiting).
    bool Posting(std::int64_t nowNs)
    {
        std::int64_t none = 0;
        return posted_.compare_exchange_strong(none, nowNs, std::memory_order_relaxed);
    }
    // The loop thread's, in the probe.
    void Ran(std::int64_t nowNs)
    {
        const std::int64_t at = posted_.exchange(0, std::memory_order_relaxed);
        if (at != 0)
            Raise(nowNs - at);
    }
    // The scrape's: the longest stall since the last scrape, in seconds.
    double Take(std::int64_t nowNs)
    {
        std::int64_t longest = longest_.exchange(0, std::memory_order_relaxed);
        const std::int64_t at = posted_.load(std::memory_order_relaxed);
        if (at != 0 && nowNs - at > longest)
            longest = nowNs - at;
        return static_cast<double>(longest) / 1e9;
    }

private:
    void Raise(std::int64_t ns)
    {
        std::int64_t seen = longest_.load(std::memory_order_relaxed);
        while (ns > seen && !longest_.compare_exchange_weak(seen, ns, std::memory_order_relaxed)) {}
    }
    std::atomic<std::int64_t> posted_{0};
    std::atomic<std::int64_t> longest_{0};
};

} // namespace metrics
} // namespace mdlink
