// Bounded FIFO of depth records and the local time each was received, between
// the thread that brings them and the Python readers. Pure data structure: no
// lock, no thread.
//
// Storage grows on demand up to the capacity; once full, a new record
// overwrites the oldest. Records and times live in two parallel arrays so
// that readers copy whole 408-byte records, exactly as published.
#pragma once

#include "MdApi.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mdpy {

using Depth = CThostFtdcDepthMarketDataField;

class DepthRing {
public:
    explicit DepthRing(std::size_t capacity) : cap_(std::max<std::size_t>(1, capacity)) {}

    // `nanos`: receive time, nanoseconds since the epoch. Returns true when
    // the oldest record was dropped to make room.
    bool Push(const Depth& d, std::int64_t nanos)
    {
        if (size_ == cap_) {
            overflowed_ = true;
            buf_[head_] = d;
            times_[head_] = nanos;
            head_ = (head_ + 1) % cap_;
            return true;
        }
        if (size_ == buf_.size())
            Grow();
        const std::size_t at = (head_ + size_) % buf_.size();
        buf_[at] = d;
        times_[at] = nanos;
        ++size_;
        return false;
    }

    // Removes up to `n` of the oldest records, handing them to
    // sink(const Depth*, const std::int64_t* times, std::size_t count) in at
    // most two contiguous runs. Returns how many were taken.
    template <class Sink>
    std::size_t Take(std::size_t n, Sink sink)
    {
        n = std::min(n, size_);
        const std::size_t first = std::min(n, buf_.size() - head_);
        if (first > 0)
            sink(buf_.data() + head_, times_.data() + head_, first);
        if (n > first)
            sink(buf_.data(), times_.data(), n - first);
        head_ = buf_.empty() ? 0 : (head_ + n) % buf_.size();
        size_ -= n;
        return n;
    }

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return cap_; }
    // Records the storage holds room for now.
    std::size_t Allocated() const { return buf_.size(); }

    struct Storage {
        std::vector<Depth> records;
        std::vector<std::int64_t> times;
    };
    // Once drained after an overflow, the storage (at its largest then) is
    // handed out, to be freed where no lock is held; it grows again as
    // records wait. Empty otherwise: a queue that never filled keeps its
    // storage rather than growing it again and again.
    Storage TakeStorageIfDrained()
    {
        Storage s;
        if (size_ == 0 && overflowed_) {
            s.records.swap(buf_);
            s.times.swap(times_);
            head_ = 0;
            overflowed_ = false;
        }
        return s;
    }

private:
    void Grow()
    {
        const std::size_t next = std::min(cap_, std::max<std::size_t>(64, buf_.size() * 2));
        std::vector<Depth> records(next);
        std::vector<std::int64_t> times(next);
        const std::size_t n = size_;
        std::size_t at = 0;
        Take(n, [&](const Depth* d, const std::int64_t* t, std::size_t count) {
            std::copy(d, d + count, records.begin() + static_cast<std::ptrdiff_t>(at));
            std::copy(t, t + count, times.begin() + static_cast<std::ptrdiff_t>(at));
            at += count;
        });
        buf_.swap(records);
        times_.swap(times);
        head_ = 0;
        size_ = n;
    }

    std::size_t cap_;
    std::vector<Depth> buf_;
    std::vector<std::int64_t> times_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    bool overflowed_ = false; // full since the storage was last given back
};

} // namespace mdpy
