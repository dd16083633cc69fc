// The records a joining link brought ahead of the links already in step,
// held in arrival order until those catch up with them. Its room grows
// (doubling, from 32 records) when a link first holds many, up to
// MaxRecords; it is kept for the next time.
#pragma once

#include "DepthOrder.h"
#include "InstrumentKey.h"
#include "MdApi.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mdlink {

class JoinQueue {
public:
    static constexpr std::size_t MaxRecords = 1024;

    struct Held {
        InstrumentKey key;
        CThostFtdcDepthMarketDataField record;
        std::uint64_t print;
        DepthStamp stamp;
    };

    bool Full() const { return size_ == MaxRecords; }
    std::size_t Size() const { return size_; }
    const Held& At(std::size_t i) const { return held_[i]; }

    void Push(const InstrumentKey& key, const CThostFtdcDepthMarketDataField& record,
              std::uint64_t print, const DepthStamp& stamp)
    {
        if (size_ == held_.size())
            held_.resize(held_.empty() ? 32 : 2 * held_.size());
        Held& h = held_[size_++];
        h.key = key;
        h.record = record;
        h.print = print;
        h.stamp = stamp;
    }

    // Drops the entries `drop` says, keeping the others in order.
    template <class Drop>
    void RemoveIf(Drop drop)
    {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < size_; ++i) {
            if (drop(held_[i]))
                continue;
            if (kept != i)
                held_[kept] = held_[i];
            ++kept;
        }
        size_ = kept;
    }

    void Clear() { size_ = 0; }

private:
    std::vector<Held> held_;
    std::size_t size_ = 0;
};

} // namespace mdlink
