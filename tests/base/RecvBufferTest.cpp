// The receive buffer: growth up to its maximum, and compaction.
#include "RecvBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kelvo {
namespace {

TEST(RecvBuffer, GrowsForLargeFramesUpToItsMaximumThenReportsFull)
{
    RecvBuffer buffer;
    char* space = nullptr;
    std::size_t size = 0;
    ASSERT_TRUE(buffer.PrepareRead(space, size));
    EXPECT_GE(size, RecvBuffer::kChunk);
    // Nothing is ever taken: it fills up to the maximum and then says so.
    std::size_t total = 0;
    while (buffer.PrepareRead(space, size)) {
        EXPECT_TRUE(size >= RecvBuffer::kChunk || buffer.Capacity() == RecvBuffer::kMaxCapacity);
        std::memset(space, 0x5A, size);
        buffer.Commit(size);
        total += size;
    }
    EXPECT_EQ(total, RecvBuffer::kMaxCapacity);
    EXPECT_EQ(buffer.Ready(), RecvBuffer::kMaxCapacity);
}

TEST(RecvBuffer, MovesWhatIsLeftToTheFrontInsteadOfGrowing)
{
    RecvBuffer buffer;
    char* space = nullptr;
    std::size_t size = 0;
    ASSERT_TRUE(buffer.PrepareRead(space, size));
    const std::size_t capacity = buffer.Capacity();
    for (std::size_t i = 0; i < size; ++i)
        space[i] = static_cast<char>(i % 251);
    buffer.Commit(size);
    buffer.Consume(size - 10);
    ASSERT_TRUE(buffer.PrepareRead(space, size));
    EXPECT_EQ(buffer.Capacity(), capacity);
    EXPECT_EQ(buffer.Ready(), 10u);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(buffer.Data()[i], static_cast<char>((capacity - 10 + i) % 251));
}

} // namespace
} // namespace kelvo
