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
        if (Value* v = InBucket(BucketOf(hash), key)) {
            fresh = false;
            return *v;
        }
        fresh = true;
        return Insert(key, hash);
    }

    // The value for this id, or null: never inserts.
    Value* Lookup(const InstrumentKey& key) { return InBucket(BucketOf(key.Hash()), key); }

    template <class F>
    void ForEach(F f)
    {
        for (std::size_t b = 0; b < buckets_.size(); ++b)
            for (std::size_t w = 0; w < Ways; ++w)
                if (buckets_[b].used & (1u << w))
                    f(buckets_[b].key[w], values_[b * Ways + w]);
    }

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return values_.size(); }
    std::uint64_t Evictions() const { return evictions_; }

private:
    // The keys of a bucket lie together, apart from the values: a lookup
    // reads one bucket's keys and then one value.
    struct Bucket {
        InstrumentKey key[Ways];
        unsigned used = 0; // a bit per way
    };

    std::size_t BucketOf(std::uint64_t hash) const { return hash & (buckets_.size() - 1); }

    Value* InBucket(std::size_t b, const InstrumentKey& key)
    {
        const Bucket& bucket = buckets_[b];
        for (std::size_t w = 0; w < Ways; ++w)
            if ((bucket.used & (1u << w)) && bucket.key[w] == key)
                return &values_[b * Ways + w];
        return nullptr;
    }

    void Reset(std::size_t buckets)
    {
        buckets_.assign(buckets, Bucket());
        values_.assign(buckets * Ways, Value());
        size_ = 0;
    }

    Value& Insert(const InstrumentKey& key, std::uint64_t hash)
    {
        for (;;) {
            const std::size_t b = BucketOf(hash);
            Bucket& bucket = buckets_[b];
            for (std::size_t w = 0; w < Ways; ++w)
                if (!(bucket.used & (1u << w)))
                    return Take(b, w, key);
            if (buckets_.size() >= maxBuckets_) {
                // At the bound: the ways of a bucket take turns to go.
                ++evictions_;
                --size_;
                return Take(b, victim_++ % Ways, key);
            }
            Grow();
        }
    }

    Value& Take(std::size_t b, std::size_t w, const InstrumentKey& key)
    {
        buckets_[b].key[w] = key;
        buckets_[b].used |= 1u << w;
        values_[b * Ways + w] = Value();
        ++size_;
        return values_[b * Ways + w];
    }

    void Grow()
    {
        std::vector<Bucket> oldBuckets;
        std::vector<Value> oldValues;
        oldBuckets.swap(buckets_);
        oldValues.swap(values_);
        Reset(oldBuckets.size() * 2);
        for (std::size_t ob = 0; ob < oldBuckets.size(); ++ob) {
            for (std::size_t ow = 0; ow < Ways; ++ow) {
                if (!(oldBuckets[ob].used & (1u << ow)))
                    continue;
                const InstrumentKey& key = oldBuckets[ob].key[ow];
                const std::size_t b = BucketOf(key.Hash());
                std::size_t w = 0;
                while (w < Ways && (buckets_[b].used & (1u << w)))
                    ++w;
                if (w == Ways) { // rare: more than four ids still share a bucket; this one is forgotten
                    ++evictions_;
                    continue;
                }
                Take(b, w, key) = oldValues[ob * Ways + ow];
            }
        }
    }

    const std::size_t maxBuckets_;
    std::vector<Bucket> buckets_;
    std::vector<Value> values_;
    std::size_t size_ = 0;
    std::size_t victim_ = 0;
    std::uint64_t evictions_ = 0;
};

} // namespace mdlink
