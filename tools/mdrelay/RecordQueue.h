// The bounded queue between the library's thread and the publishing thread.
// Push never waits and never allocates: it copies the record into a slot
// reserved at construction (its pages are touched only as records fill
// them). When every slot is taken, the oldest record waiting is overwritten
// and counted as dropped; memory never grows past the capacity given.
//
// Push is cheap on the library's thread: one uncontended lock and a copy;
// the consumer is woken only when it sleeps waiting for records.
#pragma once

#include "RelayRecord.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace mdrelay {

class RecordQueue {
public:
    explicit RecordQueue(std::size_t capacity);

    // Copies the record in, numbering it; returns that number.
    std::uint64_t Push(RecordKind kind, const void* bytes, std::size_t size, std::int64_t recvNs);

    // Moves up to max records into out (oldest first), waiting up to
    // `wait` for the first one; 0 when none came or the queue is woken.
    std::size_t Pop(RelayRecord* out, std::size_t max, std::chrono::milliseconds wait);

    // Makes a waiting Pop return at once (to look at something else).
    void Wake();

    std::size_t Capacity() const { return capacity_; }
    std::size_t Size() const;
    std::uint64_t Received() const;
    std::uint64_t Dropped() const;

    // The same three without the lock, for a metrics scrape: copies the
    // queue's thread stores as it changes them (relaxed; each is exact,
    // the three need not be of the same instant).
    struct Figures {
        std::size_t size;
        std::uint64_t received;
        std::uint64_t dropped;
    };
    Figures Peek() const;

private:
    mutable std::mutex mu_;
    std::condition_variable cv_;
    const std::size_t capacity_;
    std::unique_ptr<RelayRecord[]> slots_;
    std::size_t head_ = 0; // oldest record
    std::size_t count_ = 0;
    std::uint64_t received_ = 0;
    std::uint64_t dropped_ = 0;
    std::atomic<std::size_t> seenCount_{0};
    std::atomic<std::uint64_t> seenReceived_{0};
    std::atomic<std::uint64_t> seenDropped_{0};
    bool sleeping_ = false; // the consumer waits in Pop
    bool woken_ = false;
};

} // namespace mdrelay
