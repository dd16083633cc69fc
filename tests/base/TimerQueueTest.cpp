// The timer queue as plain data: order, ids, wrap-around, the per-owner cap
// and the reuse of a cancelled node.
#include "TimerQueue.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace kelvo {
namespace {

std::vector<std::uint32_t> PopAll(TimerQueue& queue, std::int64_t now)
{
    std::vector<std::uint32_t> ids;
    TimerQueue::Due due;
    while (queue.PopDue(now, queue.NextSerial(), due))
        ids.push_back(due.id);
    return ids;
}

TEST(TimerQueue, PopsByDeadlineThenArmingOrderAndOnlyWhenDue)
{
    TimerQueue queue(16);
    TimerOwner owner;
    const std::uint32_t c = queue.Arm(&owner, 30, 0);
    const std::uint32_t a = queue.Arm(&owner, 10, 0);
    const std::uint32_t b1 = queue.Arm(&owner, 20, 0);
    const std::uint32_t b2 = queue.Arm(&owner, 20, 0);
    EXPECT_EQ(queue.EarliestDeadline(), 10);
    EXPECT_EQ(PopAll(queue, 20), (std::vector<std::uint32_t>{a, b1, b2}));
    EXPECT_EQ(PopAll(queue, 29), std::vector<std::uint32_t>{});
    EXPECT_EQ(PopAll(queue, 30), std::vector<std::uint32_t>{c});
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(owner.count, 0u);
}

TEST(TimerQueue, TimersArmedAfterTheSerialLimitWaitForTheNextRound)
{
    TimerQueue queue(16);
    TimerOwner owner;
    queue.Arm(&owner, 5, 0);
    const std::uint64_t limit = queue.NextSerial();
    queue.Arm(&owner, 5, 0);
    TimerQueue::Due due;
    EXPECT_TRUE(queue.PopDue(5, limit, due));
    EXPECT_FALSE(queue.PopDue(5, limit, due));
    EXPECT_EQ(queue.Size(), 1u);
}

TEST(TimerQueue, CancelIgnoresZeroUnknownAndOtherOwnersIds)
{
    TimerQueue queue(16);
    TimerOwner mine;
    TimerOwner other;
    const std::uint32_t id = queue.Arm(&mine, 10, 7);
    EXPECT_FALSE(queue.Cancel(&mine, 0));
    EXPECT_FALSE(queue.Cancel(&other, id));
    EXPECT_FALSE(queue.Cancel(&mine, id + 1));
    EXPECT_TRUE(queue.Cancel(&mine, id));
    EXPECT_FALSE(queue.Cancel(&mine, id)); // already gone
    EXPECT_TRUE(queue.Empty());
}

TEST(TimerQueue, CancelAndReArmReusesOneNodeAndKeepsTheOrder)
{
    TimerQueue queue(16);
    TimerOwner a, b;
    std::uint32_t idle = queue.Arm(&a, 100, 0);
    const std::uint32_t other = queue.Arm(&b, 50, 1);
    // The per-frame pattern: cancel, arm again a little later.
    for (std::int64_t t = 101; t < 100000; ++t) {
        ASSERT_TRUE(queue.Cancel(&a, idle));
        idle = queue.Arm(&a, t, 0);
    }
    EXPECT_LE(queue.NodeCountForTest(), 3u) << "the pool must not grow";
    EXPECT_EQ(queue.Size(), 2u);
    EXPECT_EQ(queue.EarliestDeadline(), 50);
    EXPECT_EQ(PopAll(queue, 99998), std::vector<std::uint32_t>{other});
    EXPECT_EQ(PopAll(queue, 99999), std::vector<std::uint32_t>{idle});

    // Re-armed earlier than where it sat: it moves up at once.
    const std::uint32_t late = queue.Arm(&b, 300, 0);
    std::uint32_t moved = queue.Arm(&a, 200, 0);
    ASSERT_TRUE(queue.Cancel(&a, moved));
    moved = queue.Arm(&a, 10, 0);
    EXPECT_EQ(queue.EarliestDeadline(), 10);
    EXPECT_EQ(PopAll(queue, 1000), (std::vector<std::uint32_t>{moved, late}));
    EXPECT_TRUE(queue.Empty());
}

TEST(TimerQueue, CancelledTimersNeverFireAndCancelAllFreesTheSpare)
{
    TimerQueue queue(16);
    TimerOwner a;
    const std::uint32_t x = queue.Arm(&a, 10, 0);
    const std::uint32_t y = queue.Arm(&a, 20, 0);
    const std::uint32_t z = queue.Arm(&a, 30, 0);
    EXPECT_TRUE(queue.Cancel(&a, x)); // parked as the spare
    EXPECT_TRUE(queue.Cancel(&a, y)); // removed outright
    EXPECT_FALSE(queue.Cancel(&a, x));
    EXPECT_EQ(queue.Size(), 1u);
    EXPECT_EQ(queue.EarliestDeadline(), 30);
    EXPECT_EQ(PopAll(queue, 100), std::vector<std::uint32_t>{z});
    queue.Arm(&a, 40, 0);
    queue.Cancel(&a, queue.Arm(&a, 50, 0));
    queue.CancelAll(&a);
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(a.parked, kNoNode);
    EXPECT_TRUE(PopAll(queue, 1000).empty());
}

// A parked node stays in its owner's list: re-armed after the owner armed
// others, it becomes the latest armed; freed at the top of the heap, it
// leaves the list.
TEST(TimerQueue, AParkedNodeKeepsTheOwnersArmingOrder)
{
    TimerQueue queue(2);
    TimerOwner owner;
    const std::uint32_t a = queue.Arm(&owner, 10, 0);
    const std::uint32_t b = queue.Arm(&owner, 20, 0);
    ASSERT_TRUE(queue.Cancel(&owner, a)); // parked, first in the list
    const std::uint32_t c = queue.Arm(&owner, 30, 0);
    const std::uint32_t d = queue.Arm(&owner, 40, 0); // past the cap: b goes
    EXPECT_FALSE(queue.Cancel(&owner, b));
    EXPECT_EQ(owner.count, 2u);
    EXPECT_EQ(queue.NodeCountForTest(), 2u);
    EXPECT_EQ(PopAll(queue, 100), (std::vector<std::uint32_t>{c, d}));

    const std::uint32_t e = queue.Arm(&owner, 110, 0);
    const std::uint32_t f = queue.Arm(&owner, 120, 0);
    ASSERT_TRUE(queue.Cancel(&owner, e));
    EXPECT_EQ(PopAll(queue, 200), std::vector<std::uint32_t>{f}); // e's node freed on the way
    EXPECT_EQ(owner.first, kNoNode);
    EXPECT_EQ(owner.last, kNoNode);
    EXPECT_EQ(owner.parked, kNoNode);
}

TEST(TimerQueue, TheCounterWrapsPastZero)
{
    TimerQueue queue(16);
    TimerOwner owner;
    queue.SetNextIdForTest(0xFFFFFFFEu);
    EXPECT_EQ(queue.Arm(&owner, 1, 0), 0xFFFFFFFEu);
    EXPECT_EQ(queue.Arm(&owner, 1, 0), 0xFFFFFFFFu);
    EXPECT_EQ(queue.Arm(&owner, 1, 0), 1u);
}

TEST(TimerQueue, AfterWrappingPendingIdsAreSkipped)
{
    TimerQueue queue(100000);
    TimerOwner owner;
    std::set<std::uint32_t> pending;
    for (int i = 0; i < 5000; ++i)
        pending.insert(queue.Arm(&owner, 1000, 0));
    EXPECT_GE(queue.IdTableSizeForTest(), 2 * pending.size());
    // Back to where the pending ids were handed out: none may be given again.
    queue.SetNextIdForTest(*pending.begin());
    for (int i = 0; i < 5000; ++i) {
        const std::uint32_t id = queue.Arm(&owner, 1000, 0);
        EXPECT_NE(id, 0u);
        EXPECT_TRUE(pending.insert(id).second) << "id " << id << " reused";
    }
}

TEST(TimerQueue, ThePerOwnerCapCancelsTheEarliestArmed)
{
    TimerQueue queue(3);
    TimerOwner flooded;
    TimerOwner quiet;
    const std::uint32_t other = queue.Arm(&quiet, 1, 0);
    const std::uint32_t first = queue.Arm(&flooded, 100, 0);
    const std::uint32_t second = queue.Arm(&flooded, 1, 0);
    const std::uint32_t third = queue.Arm(&flooded, 2, 0);
    const std::uint32_t fourth = queue.Arm(&flooded, 3, 0);
    EXPECT_EQ(flooded.count, 3u);
    EXPECT_FALSE(queue.Cancel(&flooded, first));
    EXPECT_EQ(PopAll(queue, 1000), (std::vector<std::uint32_t>{other, second, third, fourth}));
}

TEST(TimerQueue, CancelAllEmptiesOneOwnerOnly)
{
    TimerQueue queue(16);
    TimerOwner a;
    TimerOwner b;
    for (int i = 0; i < 10; ++i) {
        queue.Arm(&a, i, 0);
        queue.Arm(&b, i, 0);
    }
    queue.CancelAll(&a);
    EXPECT_EQ(a.count, 0u);
    EXPECT_EQ(b.count, 10u);
    EXPECT_EQ(PopAll(queue, 100).size(), 10u);
}

} // namespace
} // namespace kelvo
