// The depth arbitration: each record once, from whichever link brings it
// first, never one older than the last delivered for its instrument, and
// none lost when a link comes back ahead of the others.
//
// Per instrument it keeps the stamp of the newest record delivered
// (DepthOrder.h), the prints (DepthPrint.h) of the last Recent records
// delivered, each with how often it was delivered and how often each link
// has brought it, and which links are in step. A record a link offers is
//   a copy   when its print is among those kept and this link has not
//            brought it more often than it was delivered (a front that
//            repeats a record on one link has it delivered as often);
//   older    when it is not a copy and its stamp is older than the last;
//   held     when it is newer but its link is joining (below);
//   first    otherwise: delivered, its print kept, the stamp advanced.
// So byte-identical copies are dropped, different records stamped alike are
// all delivered, and a late copy of any of the last Recent records is still
// known as a copy. One that comes later than that is older (dropped, but
// counted as older instead of as a copy), unless more than Recent records
// stamped exactly alike came in between: then it is delivered a second time.
//
// Joining. A link that comes back (or comes late) may be ahead of the links
// in step: its first record can be newer than one the others still have on
// the way, which would then be older when it comes, and lost. So a link is
// in step for an instrument once it has brought a record of it that was a
// copy or older (it follows), or when no other link is in step. Until then
// its newer records are held (JoinQueue.h) and let go, in order:
//   - once a link in step delivers a record the joining link holds: the
//     ones it holds after that follow it (its stream has no gap there);
//   - when no link in step is left (LinkDown);
//   - when it would hold more than HeldPerInstrument records of that
//     instrument (or JoinQueue::MaxRecords in all): a gap is then possible,
//     the others being that far behind, and waiting longer would hold the
//     news back.
// What is let go goes to NextReleased, to be delivered after the record just
// offered. Held records the others deliver first are dropped.
//
// Lateness (how long after the first copy a link's copy came) is timed on a
// sample: a record delivered first is timed when due, and every copy of a
// timed record is timed. Records are due one in `every`, where `every`
// doubles (up to 32) while timed records come less than 50 us apart and
// halves (down to 1) when they come more than 1 ms apart: a clock read costs
// about what the rest of the arbitration does, so at high rates only a few
// records pay for one, and at low rates every record is timed.
//
// Loop thread only: no lock. Nothing is allocated per record; the table
// grows only when a new instrument appears.
#pragma once

#include "DepthOrder.h"
#include "InstrumentTable.h"
#include "JoinQueue.h"
#include "RedundantMdApi.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mdlink {

struct ArbiterCounters {
    std::uint64_t first = 0;
    std::uint64_t copies = 0;
    std::uint64_t older = 0;
    std::uint64_t held = 0;
    std::uint64_t lateTimed = 0;
    std::uint64_t late[RedundantLateBuckets] = {};
    std::uint64_t lateMaxNs = 0;
};

class DepthArbiter {
public:
    static constexpr int MaxLinks = RedundantMaxLinks;
    static constexpr int Recent = 8;
    static constexpr int HeldPerInstrument = 16;
    static constexpr unsigned MaxSampleEvery = 32;
    using Clock = std::uint64_t (*)(); // monotonic nanoseconds
    using Record = CThostFtdcDepthMarketDataField;

    enum class Verdict : unsigned char { First, Copy, Older, Held };

    // The instrument table starts with room for 16 and grows as they come.
    explicit DepthArbiter(int links, Clock clock = nullptr,
                          std::size_t maxInstruments = std::size_t(1) << 16);

    Verdict Offer(int link, const Record& d);
    // The link's connection ended: it is in step for nothing, holds nothing.
    void LinkDown(int link);
    // Records let go since, in order, to be delivered; null when none is left.
    bool HasReleased() const { return releasedRead_ < released_.size(); }
    const Record* NextReleased();

    const ArbiterCounters& CountersOf(int link) const { return counters_[link]; }
    std::size_t Instruments() const { return table_.Size(); }
    std::uint64_t Evictions() const { return table_.Evictions(); }
    unsigned SampleEvery() const { return every_; }

    static std::uint64_t SteadyNs();

private:
    // The prints kept, each as a column: a lookup reads one cache line.
    struct Instrument {
        DepthStamp last;
        std::uint8_t next = 0;    // ring position of the next print
        std::uint8_t inStep = 0;  // a bit per link
        std::uint8_t holding = 0; // a bit per joining link holding records
        std::uint8_t held[MaxLinks] = {}; // records each link holds
        std::uint8_t delivered[Recent] = {}; // 0: an empty place
        std::uint64_t hash[Recent] = {};
        std::uint64_t timeNs[Recent] = {};   // first delivered at; 0: not timed
        std::uint8_t seen[Recent][MaxLinks] = {};
    };

    // DepthArbiter.cpp
    static int FindPrint(const Instrument& in, std::uint64_t hash); // -1: none
    Verdict Deliver(int link, Instrument& in, std::uint64_t hash);
    Verdict Copy(int link, const Instrument& in, int print);
    std::uint64_t TimeIfDue();
    void AddLate(int link, std::uint64_t ns);
    // DepthArbiterJoin.cpp
    Verdict Join(int link, Instrument& in, const InstrumentKey& key, const Record& d,
                 std::uint64_t hash, const DepthStamp& stamp);
    void Follows(int link, Instrument& in, const InstrumentKey& key);
    void AfterDelivered(Instrument& in, const InstrumentKey& key, std::uint64_t hash);
    void LetGo(int link, Instrument& in, const InstrumentKey& key, const std::uint64_t* after);
    void LetGoAll(int link);
    void Release(int link, Instrument& in, const InstrumentKey& key, const Record& d,
                 std::uint64_t hash, const DepthStamp& stamp);

    const int links_;
    const Clock clock_;
    InstrumentTable<Instrument> table_;
    std::vector<JoinQueue> joining_;
    std::vector<Record> released_;
    std::size_t releasedRead_ = 0;
    ArbiterCounters counters_[MaxLinks];
    unsigned every_ = 1;
    unsigned until_ = 1;
    std::uint64_t lastTimedNs_ = 0;
};

} // namespace mdlink
