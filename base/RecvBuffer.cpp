#include "RecvBuffer.h"

#include <algorithm>
#include <cstring>

namespace kelvo {

bool RecvBuffer::PrepareRead(char*& space, std::size_t& size)
{
    if (head_ == tail_)
        head_ = tail_ = 0;
    if (capacity_ - tail_ < kChunk && head_ > 0) {
        std::memmove(data_.get(), data_.get() + head_, tail_ - head_);
        tail_ -= head_;
        head_ = 0;
    }
    if (capacity_ - tail_ < kChunk && capacity_ < kMaxCapacity) {
        const std::size_t capacity = std::min(kMaxCapacity, std::max(capacity_ * 2, 2 * kChunk));
        std::unique_ptr<char[]> data(new char[capacity]);
        if (tail_ > 0)
            std::memcpy(data.get(), data_.get(), tail_);
        data_.swap(data);
        capacity_ = capacity;
    }
    if (tail_ == capacity_)
        return false;
    space = data_.get() + tail_;
    size = capacity_ - tail_;
    return true;
}

} // namespace kelvo
