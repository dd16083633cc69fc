// Feed lag: how far the receive time's time of day is behind the record's
// own (UpdateTime and UpdateMillisec), per exchange, as a histogram. Both
// are times of day, read on a 24-hour circle as the redundant client reads
// record times, so no calendar is needed: a lag is taken as under 12 hours,
// and a record stamped after it came (a clock behind the exchange's) counts
// as no lag at all.
//
// Timing every record would cost the loop thread a clock read per record;
// the metrics thread asks for one record at each of its ticks instead
// (Want), and the loop thread times the next one that comes.
#pragma once

#include "metrics/Cell.h"

#include <atomic>
#include <cstdint>

namespace mdlink {
namespace metrics {

inline constexpr double FeedLagBoundsSeconds[] = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                  0.25,  0.5,    1,     2.5,  5,     10};
inline constexpr int FeedLagBuckets = sizeof FeedLagBoundsSeconds / sizeof FeedLagBoundsSeconds[0] + 1;
inline constexpr std::int64_t DayMicros = 86400000000LL;

// The lag on the 24-hour circle, in microseconds; -1 when the record's time
// cannot be read. receivedMicros: the receive time's time of day in the
// exchange's zone.
std::int64_t LagMicros(const char* updateTime, int updateMillisec, std::int64_t receivedMicros);

// The exchange's offset from UTC in seconds, for reading the receive time
// in its zone; until set, the machine's own zone is used.
void SetExchangeZone(std::int64_t offsetSeconds);
// "+08:00", "-05:30", "+8", "UTC": false when it is none of these.
bool ParseZoneOffset(const char* text, std::int64_t& offsetSeconds);

class FeedLag {
public:
    static constexpr int MaxExchanges = 8;

    // The metrics thread's: time the next record.
    void Want() const { wanted_.store(true, std::memory_order_relaxed); }
    // The loop thread's, per record: one relaxed load.
    bool Wanted() const { return wanted_.load(std::memory_order_relaxed); }
    // The loop thread's: times this record now.
    void Time(const char* exchange, const char* updateTime, int updateMillisec);
    // Counts a lag; the time of the receipt given (tests, and Time).
    void Count(const char* exchange, std::int64_t lagMicros);

    struct Exchange {
        char name[16] = {};
        Cell buckets[FeedLagBuckets];
        Cell sumMicros;
    };
    // Exchanges are added by the loop thread and never removed: a reader
    // sees the first Exchanges() of them whole.
    int Exchanges() const { return count_.load(std::memory_order_acquire); }
    const Exchange& At(int i) const { return exchanges_[i]; }

private:
    mutable std::atomic<bool> wanted_{false};
    std::atomic<int> count_{0};
    Exchange exchanges_[MaxExchanges];
};

} // namespace metrics
} // namespace mdlink
