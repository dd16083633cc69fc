// The depth arbitration: each record once, from whichever link brings it
// first; time never goes back for the application but in the two cases
// below; and nothing lost when a link comes back ahead of the others.
//
// Per instrument it keeps the stamp of the last record delivered
// (DepthOrder.h), the link that delivered it, and the prints (DepthPrint.h)
// of the records delivered in the last WindowMs (at most WindowRecords),
// each with how often it was delivered and how often each link brought it.
// A record a link offers is
//   a copy   when its print is among those kept and this link has not
//            brought it more often than it was delivered (a front that
//            repeats a record on one link has it delivered as often); a
//            "late copy" too when Recent or more records were delivered
//            after it;
//   older    when it is not a copy and its stamp is older than the last,
//            except (delivered after all, with a warning):
//              - it comes from the link that delivered the last record, on
//                the same connection: a front replaying its day, restarting
//                it, or stepping its clock back is followed;
//              - that link has brought for FollowMs, while nothing was
//                delivered, only records older by their trading day alone
//                (later within the day): the leading link served a later
//                day and is gone; this one is followed from then on. A
//                link lagging within the day is never followed: what it
//                brings was news long ago;
//   held     when it is newer but its link is joining (below);
//   first    otherwise: delivered, its print kept, the stamp advanced.
//
// Joining. A link that comes back (or comes late) may be ahead of the links
// in step: its first record can be newer than one the others still have on
// the way, which would then be older when it comes, and lost. So a link is
// in step for an instrument once it has brought a record of it that was a
// copy or older, or when no other link is in step. Until then its newer
// records are held, each at most HoldMs, and let go in order:
//   - once a link in step delivers a record the joining link holds: those
//     it holds after that follow it (its stream has no gap there);
//   - when the oldest held is due (Expire, from the client's timer);
//   - when no link in step is left (LinkDown).
// HoldMs (300 ms) bounds the wait: no record is delivered more than that
// late, and no record of the links in step is lost as older while the lag
// between links stays under it. Usually the link in step catches up within
// its lag and the hold ends then; the whole of it is waited only when that
// link never brings the record (it fell silent).
//
// Loop thread only: no lock. Once an instrument is known and its window has
// grown to the rate, nothing is allocated per record.
#pragma once

#include "DepthOrder.h"
#include "InstrumentKey.h"
#include "RedundantMdApi.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace mdlink {

struct ArbiterCounters {
    std::uint64_t records = 0; // every record the link brought
    std::uint64_t first = 0;
    std::uint64_t copies = 0;
    std::uint64_t lateCopies = 0; // of those, copies of records Recent or more deliveries back
    std::uint64_t older = 0;
    std::uint64_t held = 0;
    std::uint32_t lastRecordMs = 0; // tick of the last record it brought
    bool anyRecord = false;
    std::uint64_t lateTimed = 0; // copies timed: those of one record a millisecond
    std::uint64_t late[RedundantLateBuckets] = {};
    std::uint64_t lateMaxNs = 0;
    std::uint64_t lateSumNs = 0; // of the timed copies
};

// What the arbiter has to say, at most once per instrument and minute each.
class ArbiterNotes {
public:
    enum class Kind { SteppedBack, Followed, DroppedOlder };
    // count: for DroppedOlder, the records dropped since the last note.
    virtual void Note(Kind kind, int link, const char* instrument, std::uint64_t count) = 0;

protected:
    ~ArbiterNotes() = default;
};

class DepthArbiter {
public:
    static constexpr int MaxLinks = RedundantMaxLinks;
    static constexpr int Recent = 8;
    static constexpr std::uint32_t WindowMs = 2000;
    static constexpr std::size_t WindowRecords = 256;
    static constexpr std::uint32_t FollowMs = 1000;
    static constexpr std::uint32_t HoldMs = 300;
    static constexpr std::uint32_t NoteEveryMs = 60 * 1000;
    using Clock = std::uint64_t (*)(); // monotonic nanoseconds, for the lateness
    using Record = CThostFtdcDepthMarketDataField;

    enum class Verdict : unsigned char { First, Copy, Older, Held };

    explicit DepthArbiter(int links, Clock clock = nullptr, ArbiterNotes* notes = nullptr);

    // nowMs: the loop's tick count (Kelvo_THREAD_GetTickCount).
    Verdict Offer(int link, const Record& d, std::uint32_t nowMs);
    // Lets go of held records that are due.
    void Expire(std::uint32_t nowMs);
    // Whether records are held, and when the first is due.
    bool Holding() const { return !held_.empty(); }
    std::uint32_t NextDueMs() const;
    // The link's connection ended: it is in step for nothing, holds nothing,
    // and what it brings next is a new stream.
    void LinkDown(int link);
    // Every link was lost: the application starts again, so does the order.
    void Forget();
    // Records let go since, in order, to be delivered; null when none is left.
    bool HasReleased() const { return releasedRead_ < released_.size(); }
    const Record* NextReleased();

    const ArbiterCounters& CountersOf(int link) const { return counters_[link]; }
    std::size_t Instruments() const { return table_.size(); }

    static std::uint64_t SteadyNs();

private:
    struct Print {
        std::uint64_t hash;
        std::uint64_t firstNs; // first delivered at; 0: not timed
        std::uint32_t atMs;    // delivered at (tick)
        std::uint32_t serial;  // delivery number within the instrument
        std::uint8_t delivered;
        std::uint8_t seen[MaxLinks];
    };
    struct Instrument {
        DepthStamp last;
        int lastLink = -1;
        std::uint32_t lastMs = 0;  // tick of the last delivery
        std::uint32_t serial = 0;  // deliveries so far
        std::uint8_t inStep = 0;   // a bit per link
        std::uint8_t holding = 0;  // a bit per joining link holding records
        std::uint8_t olderRun = 0; // a bit per link bringing only older records
        std::uint32_t olderSinceMs[MaxLinks] = {};
        bool stepped = false; // time went back for it, at steppedMs
        std::uint32_t steppedMs = 0;
        std::uint32_t notedMs[3] = {}; // per note kind; 0: never
        bool noted[3] = {};
        std::uint64_t unnotedOlder = 0;
        std::vector<Print> ring; // the window, oldest at `head`
        std::size_t head = 0;
        std::size_t count = 0;
    };
    struct Held {
        int link;
        InstrumentKey key;
        Record record;
        std::uint64_t hash;
        DepthStamp stamp;
        std::uint32_t dueMs;
    };
    struct KeyHash {
        std::size_t operator()(const InstrumentKey& k) const { return static_cast<std::size_t>(k.Hash()); }
    };

    void Trim(Instrument& in, std::uint32_t nowMs);
    Print* FindPrint(Instrument& in, std::uint64_t hash, std::uint32_t nowMs, std::size_t& back);
    void Deliver(int link, Instrument& in, std::uint64_t hash, const DepthStamp& stamp, std::uint32_t nowMs);
    Verdict Copy(int link, Instrument& in, Print& p, std::size_t back, const InstrumentKey& key);
    Verdict Older(int link, Instrument& in, const Record& d, const InstrumentKey& key, std::uint64_t hash,
                  const DepthStamp& stamp, Print* p, std::uint32_t nowMs);
    void Repeat(int link, Instrument& in, Print& p, std::uint32_t nowMs);
    Verdict Accept(int link, Instrument& in, const InstrumentKey& key, std::uint64_t hash,
                   const DepthStamp& stamp, Print* p, std::uint32_t nowMs);
    void Follows(int link, Instrument& in, const InstrumentKey& key);
    void AfterDelivered(Instrument& in, const InstrumentKey& key, std::uint64_t hash);
    void LetGo(int link, Instrument& in, const InstrumentKey& key, const std::uint64_t* after);
    void Release(int link, Instrument& in, const InstrumentKey& key, const Held& h);
    void Tell(Instrument& in, ArbiterNotes::Kind kind, int link, const char* id, std::uint32_t nowMs);

    const int links_;
    const Clock clock_;
    ArbiterNotes* const notes_;
    std::unordered_map<InstrumentKey, Instrument, KeyHash> table_;
    std::vector<Held> held_; // every joining link's, in arrival order
    std::vector<Record> released_;
    std::size_t releasedRead_ = 0;
    ArbiterCounters counters_[MaxLinks];
    std::uint32_t lastTimedMs_ = 0;
    bool timedAny_ = false;
};

} // namespace mdlink
