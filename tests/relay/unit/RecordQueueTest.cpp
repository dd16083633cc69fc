// The queue between the library's thread and the publishing thread.
#include "RecordQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace mdrelay;
using namespace std::chrono_literals;

CThostFtdcDepthMarketDataField Depth(int volume)
{
    CThostFtdcDepthMarketDataField d;
    std::memset(&d, 0, sizeof d);
    d.Volume = volume;
    return d;
}

int VolumeOf(const RelayRecord& r)
{
    CThostFtdcDepthMarketDataField d;
    std::memcpy(&d, r.bytes, sizeof d);
    return d.Volume;
}

TEST(RecordQueueTest, FullQueueDropsTheOldestAndCountsIt)
{
    RecordQueue q(3);
    for (int i = 1; i <= 5; ++i) {
        const auto d = Depth(i);
        EXPECT_EQ(q.Push(RecordKind::Depth, &d, sizeof d, 100 + i), static_cast<std::uint64_t>(i));
    }
    CThostFtdcForQuoteRspField notice{};
    q.Push(RecordKind::ForQuote, &notice, sizeof notice, 106);
    EXPECT_EQ(q.Received(), 6u);
    EXPECT_EQ(q.Dropped(), 3u);
    EXPECT_EQ(q.Size(), 3u);
    RelayRecord out[8];
    ASSERT_EQ(q.Pop(out, 2, 0ms), 2u);
    EXPECT_EQ(out[0].sequence, 4u);
    EXPECT_EQ(VolumeOf(out[0]), 4);
    EXPECT_EQ(out[0].recvNs, 104);
    EXPECT_EQ(out[1].sequence, 5u);
    ASSERT_EQ(q.Pop(out, 8, 0ms), 1u);
    EXPECT_EQ(out[0].kind, RecordKind::ForQuote);
    EXPECT_EQ(out[0].size, sizeof notice);
    EXPECT_EQ(q.Pop(out, 8, 0ms), 0u);
}

TEST(RecordQueueTest, WakeEndsAWaitingPop)
{
    RecordQueue q(4);
    RelayRecord out[1];
    std::thread waker([&] { q.Wake(); });
    EXPECT_EQ(q.Pop(out, 1, 60s), 0u); // returns on the wake, long before the bound
    waker.join();
}

// A producer as fast as it can go against a consumer: every record is
// popped or counted dropped, once, in order. (Also run under ThreadSanitizer.)
TEST(RecordQueueTest, ProducerAndConsumerLoseNothingUncounted)
{
    constexpr int Records = 200000;
    RecordQueue q(256);
    std::thread producer([&] {
        for (int i = 1; i <= Records; ++i) {
            const auto d = Depth(i);
            q.Push(RecordKind::Depth, &d, sizeof d, i);
        }
    });
    std::uint64_t popped = 0, last = 0;
    bool ordered = true;
    std::vector<RelayRecord> out(64);
    while (popped + q.Dropped() < static_cast<std::uint64_t>(Records) || q.Size() > 0) {
        const std::size_t n = q.Pop(out.data(), out.size(), 10ms);
        for (std::size_t i = 0; i < n; ++i) {
            ordered =
                ordered && out[i].sequence > last && VolumeOf(out[i]) == static_cast<int>(out[i].sequence);
            last = out[i].sequence;
        }
        popped += n;
    }
    producer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(popped + q.Dropped(), static_cast<std::uint64_t>(Records));
}

} // namespace
