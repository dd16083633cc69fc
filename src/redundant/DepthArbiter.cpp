#include "DepthArbiter.h"

#include "DepthPrint.h"

#include <chrono>

namespace mdlink {

namespace {

constexpr std::uint64_t DenseNs = 50 * 1000;    // timed records closer than this: time fewer
constexpr std::uint64_t SparseNs = 1000 * 1000; // further apart than this: time more

} // namespace

std::uint64_t DepthArbiter::SteadyNs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count());
}

DepthArbiter::DepthArbiter(int links, Clock clock, std::size_t maxInstruments)
    : links_(links < 1 ? 1 : (links > MaxLinks ? MaxLinks : links)),
      clock_(clock ? clock : &SteadyNs),
      table_(maxInstruments, 16),
      joining_(static_cast<std::size_t>(links_))
{
}

DepthArbiter::Verdict DepthArbiter::Offer(int link, const Record& d)
{
    const std::uint64_t hash = DepthPrint::Of(d);
    const DepthStamp stamp = StampOf(d);
    const InstrumentKey key = InstrumentKey::Of(d.InstrumentID);
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << link);
    bool fresh = false;
    Instrument& in = table_.Find(key, fresh);
    if (fresh) {
        in.last = stamp;
        in.inStep = bit;
        return Deliver(link, in, hash);
    }
    const DepthAge age = CompareDepth(stamp, in.last);
    const int p = FindPrint(in, hash);
    if (p >= 0) {
        std::uint8_t& seen = in.seen[p][link];
        if (seen < 255)
            ++seen;
        if (seen <= in.delivered[p]) {
            if (!(in.inStep & bit))
                Follows(link, in, key);
            return Copy(link, in, p);
        }
    }
    if (age == DepthAge::Older) {
        ++counters_[link].older;
        if (!(in.inStep & bit))
            Follows(link, in, key);
        return Verdict::Older;
    }
    if (!(in.inStep & bit))
        return Join(link, in, key, d, hash, stamp);
    if (age == DepthAge::Newer)
        in.last = stamp;
    Verdict v = Verdict::First;
    if (p < 0) {
        v = Deliver(link, in, hash);
    } else {
        // This link brings the record once more than it was delivered: the
        // front repeated it, and the repeat is news like any record that is
        // not older.
        if (in.delivered[p] < 255)
            ++in.delivered[p];
        ++counters_[link].first;
    }
    if (in.holding)
        AfterDelivered(in, key, hash);
    return v;
}

const DepthArbiter::Record* DepthArbiter::NextReleased()
{
    if (releasedRead_ < released_.size())
        return &released_[releasedRead_++];
    released_.clear();
    releasedRead_ = 0;
    return nullptr;
}

int DepthArbiter::FindPrint(const Instrument& in, std::uint64_t hash)
{
    for (int i = 0; i < Recent; ++i)
        if (in.hash[i] == hash && in.delivered[i] != 0)
            return i;
    return -1;
}

DepthArbiter::Verdict DepthArbiter::Deliver(int link, Instrument& in, std::uint64_t hash)
{
    const int p = in.next;
    in.next = static_cast<std::uint8_t>((in.next + 1) % Recent);
    in.hash[p] = hash;
    in.delivered[p] = 1;
    for (std::uint8_t& seen : in.seen[p])
        seen = 0;
    in.seen[p][link] = 1;
    in.timeNs[p] = TimeIfDue();
    ++counters_[link].first;
    return Verdict::First;
}

DepthArbiter::Verdict DepthArbiter::Copy(int link, const Instrument& in, int print)
{
    ++counters_[link].copies;
    if (in.timeNs[print] != 0) {
        const std::uint64_t now = clock_();
        AddLate(link, now > in.timeNs[print] ? now - in.timeNs[print] : 0);
    }
    return Verdict::Copy;
}

std::uint64_t DepthArbiter::TimeIfDue()
{
    if (--until_ != 0)
        return 0;
    std::uint64_t now = clock_();
    if (now == 0)
        now = 1; // 0 means "not timed"
    const std::uint64_t gap = now - lastTimedNs_;
    if (gap < DenseNs && every_ < MaxSampleEvery)
        every_ *= 2;
    else if (gap > SparseNs && every_ > 1)
        every_ /= 2;
    until_ = every_;
    lastTimedNs_ = now;
    return now;
}

void DepthArbiter::AddLate(int link, std::uint64_t ns)
{
    ArbiterCounters& c = counters_[link];
    ++c.lateTimed;
    if (ns > c.lateMaxNs)
        c.lateMaxNs = ns;
    const std::uint64_t us = ns / 1000;
    int bucket = 0;
    while (bucket < RedundantLateBuckets - 1 && us >= RedundantLateBoundsUs[bucket])
        ++bucket;
    ++c.late[bucket];
}

} // namespace mdlink
