// Which records await the stream's acknowledgement, and what the publishing
// thread may send next. It keeps the stream in the order records were
// received, also across failed acknowledgements (a stream leader that died,
// a server lost, an ack that timed out):
//
//   state     may send                                  moves on when
//   Flowing   failed records first, oldest first; then  an ack fails -> Draining
//             new ones, while fewer than `bound` are
//             held and the oldest in flight is younger
//             than the stall bound
//   Draining  nothing                                   nothing is in flight -> Probing
//   Probing   the oldest failed record alone, once the  it is acknowledged -> Flowing
//             pause is over                             it fails -> Probing, pause doubled
//
// A failed record stays held and goes out again under its message id, so
// the stream stores it once however often it is sent. Nothing newer goes
// out while an older record's fate is unknown for longer than the stall
// bound: a leader that dies takes seconds to be replaced, and its lost
// records must be stored before anything sent to its successor.
//
// Records are sent in increasing sequence, and held in that order.
// Bookkeeping only: no thread, no clock, no bus; the caller holds a lock.
#pragma once

#include <cstdint>
#include <memory>

namespace mdrelay {

class PublishWindow {
public:
    enum class State { Flowing, Draining, Probing };
    enum class Step { SendNew, Resend, Wait };

    struct Limits {
        std::size_t bound = 1024;                // records held at most
        std::int64_t stallNs = 500'000'000;      // oldest in flight older: no new record
        std::int64_t firstPauseNs = 100'000'000; // before the next probe
        std::int64_t maxPauseNs = 2'000'000'000;
    };

    explicit PublishWindow(const Limits& limits);
    PublishWindow(const PublishWindow&) = delete;
    PublishWindow& operator=(const PublishWindow&) = delete;

    // What may go out now. On Wait, *wakeAtNs is when to ask again
    // (0: when something changes).
    Step Next(std::int64_t nowNs, std::int64_t* wakeAtNs) const;

    // After Next said SendNew: the record `seq` went out.
    void SentNew(std::uint64_t seq, std::int64_t nowNs);
    // After Next said Resend: takes back the message kept for the oldest
    // failed record and counts it in flight again.
    void* Resend(std::int64_t nowNs);

    // Unknown sequence numbers are ignored (Failed returns false: the
    // caller keeps the message). Acked returns when the record last went
    // out, 0 for one not in flight.
    std::int64_t Acked(std::uint64_t seq);
    bool Failed(std::uint64_t seq, void* msg, std::int64_t nowNs);

    // The stream can take records again (a new leader): a waiting probe
    // goes at once, and the pause starts again from the first.
    void ProbeNow();

    // When the oldest record in flight was sent; 0 when none is.
    std::int64_t OldestInFlightNs() const;

    State CurrentState() const { return state_; }
    std::size_t Held() const { return static_cast<std::size_t>(tail_ - head_); }
    std::size_t InFlight() const { return inFlight_; }
    std::size_t FailedHeld() const { return failed_; }

    // Empties the window, handing each kept message to drop.
    template <class Drop>
    void Clear(Drop drop)
    {
        for (; head_ < tail_; ++head_)
            if (At(head_).msg)
                drop(At(head_).msg);
        inFlight_ = failed_ = 0;
        state_ = State::Flowing;
    }

private:
    enum class Status : std::uint8_t { InFlight, Failed, Done };
    struct Entry {
        std::uint64_t seq;
        std::int64_t sentNs;
        Status status;
        void* msg; // kept while Failed
    };

    Entry& At(std::uint64_t index) { return ring_[index % limits_.bound]; }
    const Entry& At(std::uint64_t index) const { return ring_[index % limits_.bound]; }
    // The index holding seq, or tail_ when none does.
    std::uint64_t Find(std::uint64_t seq) const;
    void PopDone();
    // The first Failed entry at or after the cursor; tail_ when none.
    std::uint64_t NextFailed() const;
    void EnterProbing();

    const Limits limits_;
    std::unique_ptr<Entry[]> ring_;
    std::uint64_t head_ = 0;           // oldest entry held
    std::uint64_t tail_ = 0;           // one past the newest
    mutable std::uint64_t cursor_ = 0; // no Failed entry before it
    std::size_t inFlight_ = 0;
    std::size_t failed_ = 0;
    State state_ = State::Flowing;
    std::uint64_t probe_ = 0; // index of the probe, while probing_
    bool probing_ = false;
    std::int64_t pauseNs_;
    std::int64_t probeAtNs_ = 0;
};

} // namespace mdrelay
