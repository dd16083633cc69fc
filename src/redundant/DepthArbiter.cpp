#include "DepthArbiter.h"

#include "DepthPrint.h"

#include <chrono>

namespace mdlink {

namespace {

std::uint8_t Bit(int link)
{
    return static_cast<std::uint8_t>(1u << link);
}

// Tick counts wrap at 32 bits: compare them as a difference.
bool Reached(std::uint32_t now, std::uint32_t due)
{
    return static_cast<std::int32_t>(now - due) >= 0;
}

// Newer by time and volume alone: the print leaves the days out (fronts
// that label one feed with different trading days bring copies).
bool NewerWithinTheDay(const DepthStamp& candidate, const DepthStamp& last)
{
    DepthStamp a = candidate;
    DepthStamp b = last;
    a.day = b.day = 0;
    return CompareDepth(a, b) == DepthAge::Newer;
}

} // namespace

std::uint64_t DepthArbiter::SteadyNs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

DepthArbiter::DepthArbiter(int links, Clock clock, ArbiterNotes* notes)
    : links_(links < 1 ? 1 : (links > MaxLinks ? MaxLinks : links)), clock_(clock ? clock : &SteadyNs),
      notes_(notes)
{}

DepthArbiter::Verdict DepthArbiter::Offer(int link, const Record& d, std::uint32_t nowMs)
{
    ArbiterCounters& c = counters_[link];
    ++c.records;
    c.lastRecordMs = nowMs;
    c.anyRecord = true;
    const std::uint64_t hash = DepthPrint::Of(d);
    const DepthStamp stamp = StampOf(d);
    const InstrumentKey key = InstrumentKey::Of(d.InstrumentID);
    const std::uint8_t bit = Bit(link);
    auto found = table_.try_emplace(key);
    Instrument& in = found.first->second;
    if (found.second) {
        in.ring.resize(16);
        in.last = stamp;
        in.inStep = bit;
        Deliver(link, in, hash, stamp, nowMs);
        return Verdict::First;
    }
    std::size_t back = 0;
    // While time has not gone back within the window, the last stamp is the
    // newest there: a record newer than it cannot be a copy, and the common
    // case reads no print.
    const bool steppedLately = in.stepped && !Reached(nowMs, in.steppedMs + WindowMs + 1);
    Print* p =
        steppedLately || !NewerWithinTheDay(stamp, in.last) ? FindPrint(in, hash, nowMs, back) : nullptr;
    if (p) {
        if (p->seen[link] < 255)
            ++p->seen[link];
        if (p->seen[link] <= p->delivered) {
            if (!(in.inStep & bit))
                Follows(link, in, key);
            return Copy(link, in, *p, back, key);
        }
    }
    const DepthAge age = CompareDepth(stamp, in.last);
    if (age == DepthAge::Older)
        return Older(link, in, d, key, hash, stamp, p, nowMs);
    if (!(in.inStep & bit)) {
        if (in.inStep & ~bit) {
            held_.push_back({link, key, d, hash, stamp, nowMs + HoldMs});
            in.holding |= bit;
            ++c.held;
            return Verdict::Held;
        }
        in.inStep |= bit; // no other link in step: this one leads
    }
    if (age == DepthAge::Newer)
        in.last = stamp;
    return Accept(link, in, key, hash, stamp, p, nowMs);
}

// Delivered: a repeat of a print kept, or a new one; then what joining
// links hold is looked at.
DepthArbiter::Verdict DepthArbiter::Accept(int link, Instrument& in, const InstrumentKey& key,
                                           std::uint64_t hash, const DepthStamp& stamp, Print* p,
                                           std::uint32_t nowMs)
{
    if (p)
        Repeat(link, in, *p, nowMs);
    else
        Deliver(link, in, hash, stamp, nowMs);
    if (in.holding)
        AfterDelivered(in, key, hash);
    return Verdict::First;
}

DepthArbiter::Verdict DepthArbiter::Older(int link, Instrument& in, const Record& d, const InstrumentKey& key,
                                          std::uint64_t hash, const DepthStamp& stamp, Print* p,
                                          std::uint32_t nowMs)
{
    const std::uint8_t bit = Bit(link);
    bool follow = false;
    if (link == in.lastLink) {
        Tell(in, ArbiterNotes::Kind::SteppedBack, link, d.InstrumentID, nowMs);
        follow = true;
    } else if (NewerWithinTheDay(stamp, in.last)) {
        // Older by its trading day alone: another day's front. (A link that
        // lags within the day is not followed: what it brings was news long
        // ago.)
        if (!(in.olderRun & bit)) {
            in.olderRun |= bit;
            in.olderSinceMs[link] = nowMs;
        }
        if (Reached(nowMs, in.olderSinceMs[link] + FollowMs)) {
            Tell(in, ArbiterNotes::Kind::Followed, link, d.InstrumentID, nowMs);
            follow = true;
        }
    }
    if (!follow) {
        ++counters_[link].older;
        ++in.unnotedOlder;
        Tell(in, ArbiterNotes::Kind::DroppedOlder, link, d.InstrumentID, nowMs);
        if (!(in.inStep & bit))
            Follows(link, in, key);
        return Verdict::Older;
    }
    Follows(link, in, key);
    in.last = stamp;
    in.stepped = true;
    in.steppedMs = nowMs;
    return Accept(link, in, key, hash, stamp, p, nowMs);
}

void DepthArbiter::Tell(Instrument& in, ArbiterNotes::Kind kind, int link, const char* id,
                        std::uint32_t nowMs)
{
    const int k = static_cast<int>(kind);
    if (in.noted[k] && !Reached(nowMs, in.notedMs[k] + NoteEveryMs))
        return;
    in.noted[k] = true;
    in.notedMs[k] = nowMs;
    const std::uint64_t count = kind == ArbiterNotes::Kind::DroppedOlder ? in.unnotedOlder : 0;
    if (kind == ArbiterNotes::Kind::DroppedOlder)
        in.unnotedOlder = 0;
    if (notes_)
        notes_->Note(kind, link, id, count);
}

void DepthArbiter::Trim(Instrument& in, std::uint32_t nowMs)
{
    const std::size_t size = in.ring.size();
    while (in.count > 0 && Reached(nowMs, in.ring[in.head].atMs + WindowMs + 1)) {
        in.head = (in.head + 1) % size;
        --in.count;
    }
}

DepthArbiter::Print* DepthArbiter::FindPrint(Instrument& in, std::uint64_t hash, std::uint32_t nowMs,
                                             std::size_t& back)
{
    Trim(in, nowMs);
    const std::size_t size = in.ring.size();
    for (std::size_t i = 0; i < in.count; ++i) {
        Print& p = in.ring[(in.head + in.count - 1 - i) % size];
        if (p.hash == hash && p.delivered != 0) {
            back = in.serial - p.serial;
            return &p;
        }
    }
    return nullptr;
}

void DepthArbiter::Deliver(int link, Instrument& in, std::uint64_t hash, const DepthStamp&,
                           std::uint32_t nowMs)
{
    Trim(in, nowMs);
    std::size_t size = in.ring.size();
    if (in.count == size) {
        if (size < WindowRecords) {
            // Grow, the window laid out from the start again.
            std::vector<Print> grown(size * 2);
            for (std::size_t i = 0; i < in.count; ++i)
                grown[i] = in.ring[(in.head + i) % size];
            in.ring.swap(grown);
            in.head = 0;
            size *= 2;
        } else {
            in.head = (in.head + 1) % size;
            --in.count;
        }
    }
    Print& p = in.ring[(in.head + in.count) % size];
    ++in.count;
    p.hash = hash;
    // A clock read costs about what the rest of the arbitration does: one
    // record a tick is timed, so every record at up to a thousand a second.
    p.firstNs = 0;
    if (nowMs != lastTimedMs_ || !timedAny_) {
        p.firstNs = clock_();
        lastTimedMs_ = nowMs;
        timedAny_ = true;
    }
    p.atMs = nowMs;
    p.serial = ++in.serial;
    p.delivered = 1;
    for (std::uint8_t& s : p.seen)
        s = 0;
    p.seen[link] = 1;
    in.lastLink = link;
    in.lastMs = nowMs;
    in.olderRun = 0;
    ++counters_[link].first;
}

// This link brings a record once more than it was delivered: the front
// repeated it, and the repeat is news like any record that is not older.
void DepthArbiter::Repeat(int link, Instrument& in, Print& p, std::uint32_t nowMs)
{
    if (p.delivered < 255)
        ++p.delivered;
    ++counters_[link].first;
    in.lastLink = link;
    in.lastMs = nowMs;
    in.olderRun = 0;
}

DepthArbiter::Verdict DepthArbiter::Copy(int link, Instrument&, Print& p, std::size_t back,
                                         const InstrumentKey&)
{
    ArbiterCounters& c = counters_[link];
    ++c.copies;
    if (back >= static_cast<std::size_t>(Recent))
        ++c.lateCopies;
    if (p.firstNs == 0)
        return Verdict::Copy;
    const std::uint64_t now = clock_();
    const std::uint64_t ns = now > p.firstNs ? now - p.firstNs : 0;
    ++c.lateTimed;
    c.lateSumNs += ns;
    if (ns > c.lateMaxNs)
        c.lateMaxNs = ns;
    const std::uint64_t us = ns / 1000;
    int bucket = 0;
    while (bucket < RedundantLateBuckets - 1 && us >= RedundantLateBoundsUs[bucket])
        ++bucket;
    ++c.late[bucket];
    return Verdict::Copy;
}

// The link brought a copy or an older record: it follows the links in step,
// and what it held of this instrument is older still.
void DepthArbiter::Follows(int link, Instrument& in, const InstrumentKey& key)
{
    in.inStep |= Bit(link);
    if (!(in.holding & Bit(link)))
        return;
    in.holding &= static_cast<std::uint8_t>(~Bit(link));
    for (std::size_t i = 0; i < held_.size();) {
        if (held_[i].link == link && held_[i].key == key) {
            ++counters_[link].older;
            held_.erase(held_.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
}

// A record was delivered: a joining link that holds it has its records
// after it let go; what it holds that is now older can never be delivered.
void DepthArbiter::AfterDelivered(Instrument& in, const InstrumentKey& key, std::uint64_t hash)
{
    for (int link = 0; link < links_; ++link) {
        if (!(in.holding & Bit(link)))
            continue;
        bool holdsIt = false;
        bool holdsMore = false;
        for (const Held& h : held_)
            if (h.link == link && h.key == key)
                holdsIt = holdsIt || h.hash == hash;
        if (holdsIt) {
            LetGo(link, in, key, &hash);
            continue;
        }
        for (std::size_t i = 0; i < held_.size();) {
            const Held& h = held_[i];
            if (h.link == link && h.key == key && CompareDepth(h.stamp, in.last) == DepthAge::Older) {
                ++counters_[link].older;
                held_.erase(held_.begin() + static_cast<long>(i));
                continue;
            }
            holdsMore = holdsMore || (h.link == link && h.key == key);
            ++i;
        }
        if (!holdsMore)
            in.holding &= static_cast<std::uint8_t>(~Bit(link));
    }
}

// The link's held records of this instrument go, in order (those after the
// one with print *after, when given), and it is in step from now on.
void DepthArbiter::LetGo(int link, Instrument& in, const InstrumentKey& key, const std::uint64_t* after)
{
    in.holding &= static_cast<std::uint8_t>(~Bit(link));
    in.inStep |= Bit(link);
    std::vector<Held> mine;
    for (std::size_t i = 0; i < held_.size();) {
        if (held_[i].link == link && held_[i].key == key) {
            mine.push_back(held_[i]);
            held_.erase(held_.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    bool passed = after == nullptr;
    for (const Held& h : mine) {
        if (passed)
            Release(link, in, key, h);
        else
            passed = h.hash == *after;
    }
}

// Delivered after the record being offered, unless it is no news by now.
void DepthArbiter::Release(int link, Instrument& in, const InstrumentKey& key, const Held& h)
{
    if (CompareDepth(h.stamp, in.last) == DepthAge::Older) {
        ++counters_[link].older;
        return;
    }
    std::size_t back = 0;
    if (FindPrint(in, h.hash, in.lastMs, back)) {
        ++counters_[link].copies;
        return;
    }
    if (CompareDepth(h.stamp, in.last) == DepthAge::Newer)
        in.last = h.stamp;
    Deliver(link, in, h.hash, h.stamp, in.lastMs);
    released_.push_back(h.record);
    if (in.holding)
        AfterDelivered(in, key, h.hash);
}

void DepthArbiter::Expire(std::uint32_t nowMs)
{
    for (;;) {
        const Held* due = nullptr;
        for (const Held& h : held_)
            if (Reached(nowMs, h.dueMs)) {
                due = &h;
                break;
            }
        if (!due)
            return;
        const int link = due->link;
        const InstrumentKey key = due->key;
        auto it = table_.find(key);
        if (it == table_.end()) {
            held_.erase(held_.begin() + (due - held_.data()));
            continue;
        }
        it->second.lastMs = nowMs;
        LetGo(link, it->second, key, nullptr);
    }
}

std::uint32_t DepthArbiter::NextDueMs() const
{
    std::uint32_t next = held_.empty() ? 0 : held_.front().dueMs;
    for (const Held& h : held_)
        if (static_cast<std::int32_t>(h.dueMs - next) < 0)
            next = h.dueMs;
    return next;
}

void DepthArbiter::LinkDown(int link)
{
    for (std::size_t i = 0; i < held_.size();) {
        if (held_[i].link == link)
            held_.erase(held_.begin() + static_cast<long>(i));
        else
            ++i;
    }
    const std::uint8_t keep = static_cast<std::uint8_t>(~Bit(link));
    for (auto& entry : table_) {
        Instrument& in = entry.second;
        in.inStep &= keep;
        in.holding &= keep;
        in.olderRun &= keep;
        if (in.lastLink == link)
            in.lastLink = -1;
        for (Print& p : in.ring)
            p.seen[link] = 0; // a new connection may bring them again
        if (in.inStep == 0 && in.holding != 0) {
            int first = 0;
            while (!(in.holding & Bit(first)))
                ++first;
            LetGo(first, in, entry.first, nullptr);
        }
    }
}

void DepthArbiter::Forget()
{
    table_.clear();
    held_.clear();
}

const DepthArbiter::Record* DepthArbiter::NextReleased()
{
    if (releasedRead_ < released_.size())
        return &released_[releasedRead_++];
    released_.clear();
    releasedRead_ = 0;
    return nullptr;
}

} // namespace mdlink
