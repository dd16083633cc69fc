// The figures the metrics page shows, kept where the clients count them.
//
// Every cell (Cell.h) has one writer, the base layer's loop thread, and any
// number of readers (the metrics listener's thread). The cells are shared: a client holds its own, the registry a weak
// reference, a scrape a strong one while it reads. The redundant client's
// own are in RedundantFigures.h.
#pragma once

#include "metrics/Cell.h"
#include "metrics/FeedLag.h"
#include "metrics/InstrumentAges.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace mdlink {
namespace metrics {

// One single client, or one link of a redundant client (whose successive
// inner clients all count into the link's cells).
struct LinkFigures {
    Cell connected; // 0 or 1
    Cell loggedIn;  // 0 or 1
    Cell connects;  // connections made; those after the first are reconnections
    Cell heartbeatTimeouts;
    Cell loginRefusals;
    Cell receivedBytes;
    FeedLag lag;
    InstrumentAges ages;

    // A depth record: counted, not timed. A clock read per record would
    // cost the loop thread as much again as receiving it; the metrics
    // thread times the count's changes instead (SeenChange).
    void Record() { records_.store(records_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }
    std::uint64_t Records() const { return records_.load(std::memory_order_relaxed); }

    // The metrics thread's own, called every SampleMs and at each scrape:
    // the tick at which it first saw the record count as it is now. The
    // age of the last record is known to within SampleMs.
    static constexpr std::uint32_t SampleMs = 250;
    std::uint32_t SeenChange(std::uint64_t records, std::uint32_t nowMs) const
    {
        if (records != seenRecords_) {
            seenRecords_ = records;
            seenChangeMs_ = nowMs;
        }
        return seenChangeMs_;
    }

    // The front connected or last tried; rare, so a lock is fine here.
    void SetFront(const char* host, int port)
    {
        char text[160];
        std::snprintf(text, sizeof text, "tcp://%s:%d", host ? host : "", port);
        std::lock_guard<std::mutex> lock(frontMu_);
        front_ = text;
    }
    std::string Front() const
    {
        std::lock_guard<std::mutex> lock(frontMu_);
        return front_;
    }

private:
    std::atomic<std::uint64_t> records_{0};
    // The metrics thread's only.
    mutable std::uint64_t seenRecords_ = 0;
    mutable std::uint32_t seenChangeMs_ = 0;
    mutable std::mutex frontMu_;
    std::string front_;
};

} // namespace metrics
} // namespace mdlink
