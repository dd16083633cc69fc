// The bounded queue between the receiving thread(s) and the capture's
// writer thread: a ring of fixed-size slots, each with a sequence number
// that says whose turn it is. A producer reserves a slot with one
// compare-and-swap on the tail, copies the record in and publishes it by
// storing the slot's sequence; the one consumer takes slots in order and
// hands them back. Nothing blocks and nothing allocates after construction;
// a full ring refuses the record.
#pragma once

#include "MdApi.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace mdcapture {

void CopyZeroingPadding(const CThostFtdcDepthMarketDataField& record, void* out) noexcept;

class RecordQueue {
public:
    struct Slot {
        std::atomic<std::uint64_t> sequence;
        std::int64_t receiveNs;
        alignas(8) unsigned char bytes[sizeof(CThostFtdcDepthMarketDataField)];
    };

    // Room for at least capacity records (rounded up to a power of two, at
    // least two: with one slot, "holds the record of lap n" and "free for
    // lap n + 1" would be the same sequence number).
    explicit RecordQueue(std::size_t capacity)
    {
        std::size_t size = 2;
        while (size < capacity)
            size <<= 1;
        mask_ = size - 1;
        slots_.reset(new Slot[size]);
        for (std::size_t i = 0; i < size; ++i)
            slots_[i].sequence.store(i, std::memory_order_relaxed);
    }

    std::size_t Capacity() const { return mask_ + 1; }

    // Any thread; false when the ring is full.
    bool Push(const CThostFtdcDepthMarketDataField& record, std::int64_t receiveNs) noexcept
    {
        std::uint64_t pos = tail_.load(std::memory_order_relaxed);
        Slot* slot;
        for (;;) {
            slot = &slots_[pos & mask_];
            const std::uint64_t seq = slot->sequence.load(std::memory_order_acquire);
            const auto diff = static_cast<std::int64_t>(seq - pos);
            if (diff == 0) {
                if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed))
                    break;
            } else if (diff < 0) {
                return false; // the slot still holds a record a lap behind: full
            } else {
                pos = tail_.load(std::memory_order_relaxed);
            }
        }
        slot->receiveNs = receiveNs;
        CopyZeroingPadding(record, slot->bytes);
        slot->sequence.store(pos + 1, std::memory_order_release);
        return true;
    }

    // The consumer's thread only: the oldest published record, or nullptr.
    const Slot* Front() const
    {
        const Slot& slot = slots_[head_ & mask_];
        return slot.sequence.load(std::memory_order_acquire) == head_ + 1 ? &slot : nullptr;
    }

    // The consumer's thread only: hands Front's slot back to the producers.
    void Pop()
    {
        slots_[head_ & mask_].sequence.store(head_ + mask_ + 1, std::memory_order_release);
        ++head_;
    }

private:
    std::unique_ptr<Slot[]> slots_;
    std::size_t mask_ = 0;
    alignas(64) std::atomic<std::uint64_t> tail_{0};
    alignas(64) std::uint64_t head_ = 0;
};

} // namespace mdcapture
