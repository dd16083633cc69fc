// A figure with one writer, the base layer's loop thread, and any number of
// readers: the writer adds with a plain load and store, no locked
// instruction, so counting costs the loop thread a few nanoseconds whether
// or not anyone ever reads the figure.
#pragma once

#include <atomic>
#include <cstdint>

namespace mdlink {
namespace metrics {

class Cell {
public:
    void Add(std::uint64_t n = 1)
    {
        v_.store(v_.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }
    void Set(std::uint64_t x) { v_.store(x, std::memory_order_relaxed); }
    std::uint64_t Get() const { return v_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> v_{0};
};

} // namespace metrics
} // namespace mdlink
