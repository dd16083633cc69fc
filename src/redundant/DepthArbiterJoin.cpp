// Joining links: records a link brings ahead of the links in step are held
// until those catch up with them (the rule is in DepthArbiter.h).
#include "DepthArbiter.h"

namespace mdlink {

namespace {

std::uint8_t Bit(int link)
{
    return static_cast<std::uint8_t>(1u << link);
}

int LowestLink(std::uint8_t bits)
{
    int link = 0;
    while (!(bits & Bit(link)))
        ++link;
    return link;
}

} // namespace

// A newer record from a link not in step for its instrument.
DepthArbiter::Verdict DepthArbiter::Join(int link, Instrument& in, const InstrumentKey& key,
                                         const Record& d, std::uint64_t hash, const DepthStamp& stamp)
{
    Instrument* instrument = &in;
    if (in.inStep & ~Bit(link)) {
        JoinQueue& queue = joining_[static_cast<std::size_t>(link)];
        if (!queue.Full() && in.held[link] < HeldPerInstrument) {
            queue.Push(key, d, hash, stamp);
            in.holding |= Bit(link);
            ++in.held[link];
            ++counters_[link].held;
            return Verdict::Held;
        }
        // The others are too far behind to wait for.
        if (queue.Full()) {
            LetGoAll(link);
            instrument = table_.Lookup(key);
            if (!instrument)
                return Verdict::Older; // forgotten meanwhile (the table at its bound)
        }
    }
    // No link in step but this one: it leads, after what it held.
    instrument->inStep |= Bit(link);
    if (instrument->holding & Bit(link))
        LetGo(link, *instrument, key, nullptr);
    Release(link, *instrument, key, d, hash, stamp);
    return Verdict::Held;
}

// The link brought a copy or an older record: it follows the links in step,
// and what it held of this instrument is older still.
void DepthArbiter::Follows(int link, Instrument& in, const InstrumentKey& key)
{
    in.inStep |= Bit(link);
    if (!(in.holding & Bit(link)))
        return;
    in.holding &= static_cast<std::uint8_t>(~Bit(link));
    in.held[link] = 0;
    joining_[static_cast<std::size_t>(link)].RemoveIf(
        [&key](const JoinQueue::Held& h) { return h.key == key; });
}

// A record was delivered: a joining link that holds it has its records
// after it let go; what it holds that is now older can never be delivered.
void DepthArbiter::AfterDelivered(Instrument& in, const InstrumentKey& key, std::uint64_t hash)
{
    for (int link = 0; link < links_; ++link) {
        if (!(in.holding & Bit(link)))
            continue;
        JoinQueue& queue = joining_[static_cast<std::size_t>(link)];
        bool holdsIt = false;
        for (std::size_t i = 0; i < queue.Size() && !holdsIt; ++i)
            holdsIt = queue.At(i).key == key && queue.At(i).print == hash;
        if (holdsIt) {
            LetGo(link, in, key, &hash);
            continue;
        }
        queue.RemoveIf([&](const JoinQueue::Held& h) {
            const bool gone = h.key == key && CompareDepth(h.stamp, in.last) == DepthAge::Older;
            in.held[link] = static_cast<std::uint8_t>(in.held[link] - (gone ? 1 : 0));
            return gone;
        });
        if (in.held[link] == 0)
            in.holding &= static_cast<std::uint8_t>(~Bit(link));
    }
}

// The link's held records of this instrument go, in order (those after the
// one with print *after, when given), and it is in step from now on.
void DepthArbiter::LetGo(int link, Instrument& in, const InstrumentKey& key, const std::uint64_t* after)
{
    in.holding &= static_cast<std::uint8_t>(~Bit(link));
    in.held[link] = 0;
    in.inStep |= Bit(link);
    JoinQueue& queue = joining_[static_cast<std::size_t>(link)];
    bool passed = after == nullptr;
    for (std::size_t i = 0; i < queue.Size(); ++i) {
        const JoinQueue::Held& h = queue.At(i);
        if (!(h.key == key))
            continue;
        if (passed)
            Release(link, in, key, h.record, h.print, h.stamp);
        else
            passed = h.print == *after;
    }
    queue.RemoveIf([&key](const JoinQueue::Held& h) { return h.key == key; });
}

void DepthArbiter::LetGoAll(int link)
{
    JoinQueue& queue = joining_[static_cast<std::size_t>(link)];
    while (queue.Size() > 0) {
        const InstrumentKey key = queue.At(0).key;
        Instrument* in = table_.Lookup(key);
        if (in) {
            LetGo(link, *in, key, nullptr);
        } else {
            queue.RemoveIf([&key](const JoinQueue::Held& h) { return h.key == key; });
        }
    }
}

// Delivered after the record being offered, unless it is no news by now.
void DepthArbiter::Release(int link, Instrument& in, const InstrumentKey& key, const Record& d,
                           std::uint64_t hash, const DepthStamp& stamp)
{
    const DepthAge age = CompareDepth(stamp, in.last);
    if (age == DepthAge::Older) {
        ++counters_[link].older;
        return;
    }
    if (FindPrint(in, hash) >= 0) {
        ++counters_[link].copies;
        return;
    }
    if (age == DepthAge::Newer)
        in.last = stamp;
    Deliver(link, in, hash);
    released_.push_back(d);
    if (in.holding)
        AfterDelivered(in, key, hash);
}

void DepthArbiter::LinkDown(int link)
{
    joining_[static_cast<std::size_t>(link)].Clear();
    const std::uint8_t keep = static_cast<std::uint8_t>(~Bit(link));
    table_.ForEach([&](const InstrumentKey& key, Instrument& in) {
        in.inStep &= keep;
        in.holding &= keep;
        in.held[link] = 0;
        for (auto& seen : in.seen)
            seen[link] = 0; // a new connection may bring them again
        if (in.inStep == 0 && in.holding != 0)
            LetGo(LowestLink(in.holding), in, key, nullptr);
    });
}

} // namespace mdlink
