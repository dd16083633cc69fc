// The soak's pure checks, kept apart from any socket or thread so that they
// can be tested on their own.
//
// SeqCheck follows one connection's depth records by the sequence number the
// front stamps into each (1, 2, ... per connection). Everything the front
// wrote whole before the first byte of a fault must come through exactly once
// and in order; what follows a fault may be anything. So the check keeps only
// the length of the in-order prefix and the first record that broke it, and
// judges that against the front's figure once the connection is over.
//
// ReconnectClock turns one client's connection events into delays to compare
// with the library's bounds: the gap after a lost link or a failed attempt,
// and the silence before a heartbeat timeout.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>

namespace soak {

class SeqCheck {
public:
    void Record(std::uint64_t seq)
    {
        ++records_;
        if (broken_)
            return;
        if (seq == prefix_ + 1) {
            prefix_ = seq;
            return;
        }
        broken_ = true;
        breakingSeq_ = seq;
    }

    std::uint64_t Records() const { return records_; }
    // Records 1..Prefix() came first, in order, once each.
    std::uint64_t Prefix() const { return prefix_; }
    bool Broken() const { return broken_; }
    // The first record out of line (meaningful when Broken()).
    std::uint64_t BreakingSeq() const { return breakingSeq_; }

private:
    std::uint64_t records_ = 0;
    std::uint64_t prefix_ = 0;
    bool broken_ = false;
    std::uint64_t breakingSeq_ = 0;
};

enum class SeqVerdict {
    Ok,
    Lost,       // a record the front wrote whole never came, or came late
    Duplicated, // a record came again, or an earlier one after a later one
};

// wholeBeforeFault: the front's last sequence number written whole before the
// connection's first fault byte (every one it wrote, if none). tailExempt:
// the application ended the connection itself (Release), so it may not have
// waited for everything.
inline SeqVerdict Judge(const SeqCheck& c, std::uint64_t wholeBeforeFault, bool tailExempt)
{
    if (c.Prefix() >= wholeBeforeFault)
        return SeqVerdict::Ok;
    if (c.Broken())
        return c.BreakingSeq() != 0 && c.BreakingSeq() <= c.Prefix() ? SeqVerdict::Duplicated
                                                                     : SeqVerdict::Lost;
    return tailExempt ? SeqVerdict::Ok : SeqVerdict::Lost;
}

// SlotCheck follows one instrument of a redundant client, whose links all
// serve one feed numbered slot by slot. The application must get every
// number at most once and in increasing order, and no record that reached a
// link may be lost while the client could have delivered it: a number a
// link brings is owed when it is newer than everything delivered, or when
// the same link's number before it (on the same connection) was delivered
// (the link is in the pack: its next number cannot be stale news), unless a
// newer number reached a link HoldMs or more before it: a link joining ahead
// of the others waits for them that long at most, however many records it
// brought meanwhile (a stalled loop reads them late). Numbers that reached
// no link are nobody's to deliver; a link that comes back behind the others
// owes nothing until it has caught up. When the application is told that
// every link is lost, the client starts its order again: so does the check.
class SlotCheck {
public:
    // How long the redundant client holds a joining link's records for the
    // others, less what its coarse tick may round off.
    static constexpr double HoldMs = 300 - 10;

    // A link brought record n at atMs; `previous` is the number the same
    // link brought before on this connection, or -1. Returns how many
    // records this shows lost at once (an owed record already older than the
    // last delivered, and not delivered).
    std::uint64_t Brought(int n, int previous, double atMs)
    {
        firstAt_.emplace(n, atMs); // keeps the first arrival
        while (firstAt_.size() > Remembered)
            firstAt_.erase(firstAt_.begin());
        if (!any_ || n > last_) {
            owed_.insert(n);
            return 0;
        }
        const bool inPack = previous == n - 1 && delivered_.count(previous) > 0;
        if (!inPack || delivered_.count(n) > 0)
            return 0;
        double newerAt = atMs;
        for (auto it = firstAt_.upper_bound(n); it != firstAt_.end(); ++it)
            newerAt = it->second < newerAt ? it->second : newerAt;
        return atMs - newerAt < HoldMs ? 1 : 0;
    }

    // The application got record n. Returns false when it came again or out
    // of order; `lost` counts owed records below it that never came.
    bool Delivered(int n, std::uint64_t& lost)
    {
        // Numbers start again from 0 at midnight: so does the check.
        if (any_ && n + MidnightDrop < last_)
            Forget();
        const bool inOrder = !any_ || n > last_;
        for (auto it = owed_.begin(); it != owed_.end() && *it <= n;) {
            lost += *it < n ? 1 : 0;
            it = owed_.erase(it);
        }
        if (inOrder) {
            any_ = true;
            last_ = n;
            delivered_.insert(n);
            while (delivered_.size() > Remembered)
                delivered_.erase(delivered_.begin());
        }
        return inOrder;
    }

    // The application released the client, or was told every link is lost:
    // nothing more is owed, and the order starts again.
    void Forget()
    {
        any_ = false;
        owed_.clear();
        delivered_.clear();
        firstAt_.clear();
    }

private:
    static constexpr int MidnightDrop = 1000000;
    static constexpr std::size_t Remembered = 4096;

    bool any_ = false;
    int last_ = 0;
    std::set<int> owed_;
    std::set<int> delivered_;       // the last few numbers delivered
    std::map<int, double> firstAt_; // the last few numbers brought: when first
};

// Reasons the library reports in OnFrontDisconnected besides error numbers.
constexpr int ReasonLinkLost = 0x2001;
constexpr int ReasonHeartBeat = 0x2002;

// Bounds the library promises, in milliseconds.
constexpr double RetryDelayMs = 3000;
constexpr double SilenceMs = 21000;

enum class DelayKind {
    Retry,   // after a lost link or a failed attempt, until the next attempt's outcome
    Silence, // from the last frame to the heartbeat timeout
};

struct DelaySample {
    DelayKind kind;
    double ms;
};

// Times in milliseconds on one monotonic clock.
class ReconnectClock {
public:
    // Returns the retry this connect ends, if one was pending.
    std::optional<DelaySample> Connected(double now)
    {
        std::optional<DelaySample> sample = Closed(now);
        connected_ = true;
        lastActivity_ = now;
        return sample;
    }

    // Any callback that shows a frame arrived on the current connection.
    void Activity(double now)
    {
        if (connected_)
            lastActivity_ = now;
    }

    // The sample this event closes, if any.
    std::optional<DelaySample> Disconnected(int reason, double now)
    {
        std::optional<DelaySample> sample = Closed(now);
        if (reason == ReasonHeartBeat) {
            if (connected_)
                sample = DelaySample{DelayKind::Silence, now - lastActivity_};
            retryFrom_.reset(); // the next attempt starts at once
        } else {
            retryFrom_ = now;
        }
        connected_ = false;
        return sample;
    }

    // The library counts the retry delay from the moment the application's
    // OnFrontDisconnected returns: a pending retry starts then.
    void RetryStartsAt(double now)
    {
        if (retryFrom_)
            retryFrom_ = now;
    }

private:
    // The outcome of an attempt (a connect, or a failure being reported).
    std::optional<DelaySample> Closed(double now)
    {
        if (!retryFrom_)
            return std::nullopt;
        const double from = *retryFrom_;
        retryFrom_.reset();
        return DelaySample{DelayKind::Retry, now - from};
    }

    bool connected_ = false;
    double lastActivity_ = 0;
    std::optional<double> retryFrom_;
};

// Worst cases of one kind of delay against its bound.
class DelayBound {
public:
    explicit DelayBound(double boundMs) : bound_(boundMs) {}

    void Add(double ms)
    {
        ++count_;
        if (count_ == 1 || ms < min_)
            min_ = ms;
        if (count_ == 1 || ms > max_)
            max_ = ms;
    }

    // The timestamp is taken on entry to the application's callback, a few
    // microseconds after the library armed its timer: that much early is
    // the measurement's, not the library's.
    static constexpr double EarlyToleranceMs = 2;

    bool TooEarly() const { return count_ > 0 && min_ < bound_ - EarlyToleranceMs; }
    bool TooLate(double stallMs) const { return count_ > 0 && max_ > bound_ * 1.1 + stallMs; }
    std::uint64_t Count() const { return count_; }
    double Min() const { return min_; }
    double Max() const { return max_; }
    double Bound() const { return bound_; }

private:
    double bound_;
    std::uint64_t count_ = 0;
    double min_ = 0;
    double max_ = 0;
};

} // namespace soak
