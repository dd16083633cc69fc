// The receive buffer of one connection: the socket reads into its free tail
// in large chunks, the handler is served from its front.
//
//   [ consumed | ready: read, not yet taken | free: next read goes here ]
//   0          head                         tail                      capacity
//
// Before each read the ready bytes move to the front when less than one chunk
// is free, and the buffer doubles (up to kMaxCapacity) when that is still not
// enough, so a frame larger than one chunk never stalls. Pure code: no I/O.
#pragma once

#include <cstddef>
#include <memory>

namespace kelvo {

class RecvBuffer {
public:
    static constexpr std::size_t kChunk = 64 * 1024;
    // The largest frame a handler takes (1 MiB body + 24-byte header) plus a
    // chunk, so that such a frame always fits with room for a read.
    static constexpr std::size_t kMaxCapacity = 1024 * 1024 + 24 + kChunk;

    RecvBuffer() = default;
    RecvBuffer(const RecvBuffer&) = delete;
    RecvBuffer& operator=(const RecvBuffer&) = delete;

    // Where the next read goes and how much it may take (at least one chunk
    // unless the buffer is at its maximum). False when the buffer is full at
    // its maximum: the handler is not taking what is there.
    bool PrepareRead(char*& space, std::size_t& size);
    void Commit(std::size_t n) { tail_ += n; }

    const char* Data() const { return data_.get() + head_; }
    std::size_t Ready() const { return tail_ - head_; }
    void Consume(std::size_t n) { head_ += n; }
    std::size_t Capacity() const { return capacity_; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
};

} // namespace kelvo
