#include "RecvBuffer.h"

#include <algorithm>
#include <cstring>

namespace kelvo {

bool RecvBuffer::PrepareRead(char*& space, std::size_t& size)
{
    if (m_head == m_tail)
        m_head = m_tail = 0;
    if (m_capacity - m_tail < kChunk && m_head > 0) {
        std::memmove(m_data.get(), m_data.get() + m_head, m_tail - m_head);
        m_tail -= m_head;
        m_head = 0;
    }
    if (m_capacity - m_tail < kChunk && m_capacity < kMaxCapacity) {
        const std::size_t capacity =
            std::min(kMaxCapacity, std::max(m_capacity * 2, 2 * kChunk));
        std::unique_ptr<char[]> data(new char[capacity]);
        if (m_tail > 0)
            std::memcpy(data.get(), m_data.get(), m_tail);
        m_data.swap(data);
        m_capacity = capacity;
    }
    if (m_tail == m_capacity)
        return false;
    space = m_data.get() + m_tail;
    size = m_capacity - m_tail;
    return true;
}

}  // namespace kelvo
