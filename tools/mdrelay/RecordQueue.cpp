#include "RecordQueue.h"

#include <cstring>

namespace mdrelay {

RecordQueue::RecordQueue(std::size_t capacity)
    : capacity_(capacity > 0 ? capacity : 1), slots_(new RelayRecord[capacity_])
{}

std::uint64_t RecordQueue::Push(RecordKind kind, const void* bytes, std::size_t size, std::int64_t recvNs)
{
    if (size > MaxRecordSize)
        size = MaxRecordSize;
    bool wake = false;
    std::uint64_t number;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (count_ == capacity_) {
            head_ = (head_ + 1) % capacity_; // the oldest gives way
            --count_;
            ++dropped_;
        }
        RelayRecord& r = slots_[(head_ + count_) % capacity_];
        r.kind = kind;
        r.size = static_cast<std::uint16_t>(size);
        r.recvNs = recvNs;
        r.sequence = number = ++received_;
        std::memcpy(r.bytes, bytes, size);
        ++count_;
        seenCount_.store(count_, std::memory_order_relaxed);
        seenReceived_.store(received_, std::memory_order_relaxed);
        seenDropped_.store(dropped_, std::memory_order_relaxed);
        wake = sleeping_;
        sleeping_ = false;
    }
    if (wake)
        cv_.notify_one();
    return number;
}

std::size_t RecordQueue::Pop(RelayRecord* out, std::size_t max, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lk(mu_);
    if (count_ == 0 && !woken_ && wait.count() > 0) {
        sleeping_ = true;
        cv_.wait_for(lk, wait, [&] { return count_ > 0 || woken_; });
        sleeping_ = false;
    }
    woken_ = false;
    std::size_t n = 0;
    for (; n < max && count_ > 0; ++n) {
        const RelayRecord& r = slots_[head_];
        out[n].kind = r.kind;
        out[n].size = r.size;
        out[n].recvNs = r.recvNs;
        out[n].sequence = r.sequence;
        std::memcpy(out[n].bytes, r.bytes, r.size);
        head_ = (head_ + 1) % capacity_;
        --count_;
    }
    seenCount_.store(count_, std::memory_order_relaxed);
    return n;
}

void RecordQueue::Wake()
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        woken_ = true;
    }
    cv_.notify_one();
}

std::size_t RecordQueue::Size() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return count_;
}

std::uint64_t RecordQueue::Received() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return received_;
}

RecordQueue::Figures RecordQueue::Peek() const
{
    return Figures{seenCount_.load(std::memory_order_relaxed), seenReceived_.load(std::memory_order_relaxed),
                   seenDropped_.load(std::memory_order_relaxed)};
}

std::uint64_t RecordQueue::Dropped() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return dropped_;
}

} // namespace mdrelay
