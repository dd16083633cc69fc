// Per-instrument state, found by instrument id: a set-associative table of
// four-way buckets. It grows (doubling, rehashing) while a full bucket is
// met and it is below its bound; at the bound a full bucket gives up one of
// its ways in turn, so memory stays bounded whatever ids a front sends.
// Lookups allocate nothing; only a new instrument can make it grow.
#pragma once

#include "InstrumentKey.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mdlink {

template <class Value>
class InstrumentTable {
public:
    static constexpr std::size_t Ways = 4;

    // maxEntries: a power of two, at least Ways.
    explicit InstrumentTable(std::size_t maxEntries = std::size_t(1) << 16,
                             std::size_t initialEntries = 64)
        : maxBuckets_(maxEntries / Ways)
    {
        Reset(initialEntries / Ways < maxBuckets_ ? initialEntries / Ways : maxBuckets_);
    }

    // The value for this id; `fresh` tells that it was just made (value-initialized).
    Value& Find(const InstrumentKey& key, bool& fresh)
    {
        const std::uint64_t hash = key.Hash();
        Slot* bucket = Bucket(hash);
        for (std::size_t w = 0; w < Ways; ++w)
            if (bucket[w].used && bucket[w].key == key) {
                fresh = false;
                return bucket[w].value;
            }
        fresh = true;
        return Insert(key, hash).value;
    }

    // The value for this id, or null: never inserts.
    Value* Lookup(const InstrumentKey& key)
    {
        Slot* bucket = Bucket(key.Hash());
        for (std::size_t w = 0; w < Ways; ++w)
            if (bucket[w].used && bucket[w].key == key)
                return &bucket[w].value;
        return nullptr;
    }

    template <class F>
    void ForEach(F f)
    {
        for (Slot& s : slots_)
            if (s.used)
                f(s.key, s.value);
    }

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return slots_.size(); }
    std::uint64_t Evictions() const { return evictions_; }

private:
    struct Slot {
        InstrumentKey key;
        bool used = false;
        Value value{};
    };

    Slot* Bucket(std::uint64_t hash)
    {
        return &slots_[(hash & (slots_.size() / Ways - 1)) * Ways];
    }

    void Reset(std::size_t buckets)
    {
        slots_.assign(buckets * Ways, Slot());
        size_ = 0;
    }

    Slot& Insert(const InstrumentKey& key, std::uint64_t hash)
    {
        for (;;) {
            Slot* bucket = Bucket(hash);
            for (std::size_t w = 0; w < Ways; ++w)
                if (!bucket[w].used)
                    return Take(bucket[w], key);
            if (slots_.size() / Ways >= maxBuckets_) {
                // At the bound: the ways of a bucket take turns to go.
                Slot& victim = bucket[victim_++ % Ways];
                ++evictions_;
                --size_;
                return Take(victim, key);
            }
            Grow();
        }
    }

    Slot& Take(Slot& slot, const InstrumentKey& key)
    {
        slot = Slot();
        slot.key = key;
        slot.used = true;
        ++size_;
        return slot;
    }

    void Grow()
    {
        std::vector<Slot> old;
        old.swap(slots_);
        Reset(old.size() / Ways * 2);
        for (Slot& s : old) {
            if (!s.used)
                continue;
            Slot* bucket = Bucket(s.key.Hash());
            Slot* free = nullptr;
            for (std::size_t w = 0; w < Ways && !free; ++w)
                if (!bucket[w].used)
                    free = &bucket[w];
            if (!free) { // rare: more than four ids still share a bucket; this one is forgotten
                ++evictions_;
                continue;
            }
            *free = s;
            ++size_;
        }
    }

    const std::size_t maxBuckets_;
    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    std::size_t victim_ = 0;
    std::uint64_t evictions_ = 0;
};

} // namespace mdlink
