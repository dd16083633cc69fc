// How stale each subscribed instrument is, without a series per instrument:
// the page shows how many have had no record for longer than a bound, and
// the age of the stalest.
//
// Three threads share the table of subscribed instruments, and none waits
// on another:
// - the application's threads note subscriptions (Note), under a lock only
//   they and the metrics thread take, and only to append;
// - the metrics thread builds a new table from the notes at its tick
//   (Rebuild) and offers it to the loop thread; it alone frees tables;
// - the loop thread takes the offered table at its next record, and marks
//   each record's instrument with the metrics thread's last tick (Mark):
//   one lookup in a table that no one changes while it is offered or in use,
//   and one relaxed store. With metrics off there is no table, and a record
//   costs two loads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace mdlink {
namespace metrics {

// The metrics thread's tick count as the loop thread stamps records with it.
void SetMarkClock(std::uint32_t nowMs);
// Whether the page is served: subscriptions are noted only then.
void SetServing();
bool Serving();
// How long without a record makes an instrument stale; 30 s until set.
void SetStaleBoundMs(std::uint32_t ms);
std::uint32_t StaleBoundMs();

class InstrumentAges {
public:
    InstrumentAges() = default;
    InstrumentAges(const InstrumentAges&) = delete;
    InstrumentAges& operator=(const InstrumentAges&) = delete;
    ~InstrumentAges();

    // Any application thread, at a subscription or its end.
    void Note(char* ids[], int count, bool subscribed);

    // The loop thread's, per record.
    void Mark(const char* instrumentId)
    {
        if (offered_.load(std::memory_order_relaxed) != nullptr)
            Adopt();
        if (Table* t = current_.load(std::memory_order_relaxed))
            MarkIn(*t, instrumentId);
    }

    // The metrics thread's.
    void Rebuild(std::uint32_t nowMs);
    struct Staleness {
        std::size_t subscribed = 0;
        std::size_t stale = 0; // no record for more than the bound
        std::uint32_t oldestMs = 0;
    };
    Staleness Read(std::uint32_t nowMs, std::uint32_t boundMs) const;

    struct Table;

private:
    void Adopt();
    static void MarkIn(Table& t, const char* instrumentId);
    template <typename Visit>
    void EachMember(Visit visit) const;

    std::mutex notesMu_;
    std::vector<std::pair<std::string, bool>> notes_;
    std::atomic<bool> noted_{false};

    std::atomic<Table*> offered_{nullptr}; // built, not yet taken by the loop
    std::atomic<Table*> current_{nullptr}; // the loop thread's
    std::atomic<Table*> retired_{nullptr}; // given back by the loop, freed by the metrics thread
};

} // namespace metrics
} // namespace mdlink
