// The publishing window's states, driven step by step with a virtual clock.
#include "PublishWindow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace mdrelay;
using Step = PublishWindow::Step;
using State = PublishWindow::State;

constexpr std::int64_t Ms = 1'000'000;

// Messages are stood for by their sequence numbers.
void* Msg(std::uint64_t seq)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(seq));
}

std::uint64_t Seq(void* msg)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(msg));
}

PublishWindow::Limits Limits()
{
    PublishWindow::Limits l;
    l.bound = 4;
    l.stallNs = 500 * Ms;
    l.firstPauseNs = 100 * Ms;
    l.maxPauseNs = 300 * Ms;
    return l;
}

Step Next(const PublishWindow& w, std::int64_t now, std::int64_t* wakeAt = nullptr)
{
    std::int64_t at = 0;
    const Step s = w.Next(now, &at);
    if (wakeAt)
        *wakeAt = at;
    return s;
}

TEST(PublishWindowTest, BoundAndStallHoldNewRecordsBack)
{
    PublishWindow w(Limits());
    for (std::uint64_t seq = 1; seq <= 4; ++seq) {
        ASSERT_EQ(Next(w, 0), Step::SendNew);
        w.SentNew(seq, 0);
    }
    EXPECT_EQ(Next(w, 1), Step::Wait) << "four held";
    w.Acked(2); // out of order: 1 is still the oldest
    EXPECT_EQ(w.Held(), 4u);
    w.Acked(1);
    EXPECT_EQ(w.Held(), 2u);
    EXPECT_EQ(Next(w, 499 * Ms), Step::SendNew);
    EXPECT_EQ(Next(w, 500 * Ms), Step::Wait) << "record 3 waited the stall bound";
    w.Acked(3);
    w.Acked(4);
    w.Acked(4); // twice, or unknown: ignored
    w.Acked(99);
    EXPECT_EQ(Next(w, 900 * Ms), Step::SendNew);
    EXPECT_EQ(w.Held(), 0u);
}

// An acknowledgement tells when its record last went out (the relay's
// latency figure), and nothing for a record not in flight.
TEST(PublishWindowTest, AckedGivesTheLastSendTime)
{
    PublishWindow w(Limits());
    w.SentNew(1, 7 * Ms);
    w.SentNew(2, 9 * Ms);
    EXPECT_EQ(w.Acked(2), 9 * Ms);
    EXPECT_EQ(w.Acked(2), 0) << "acknowledged already";
    EXPECT_EQ(w.Acked(5), 0) << "never sent";
    int msg = 0;
    ASSERT_TRUE(w.Failed(1, &msg, 20 * Ms));
    EXPECT_EQ(w.Acked(1), 0) << "failed: not in flight";
    std::int64_t at = 0;
    for (std::int64_t now = 20 * Ms; w.Next(now, &at) != Step::Resend; now = at)
        ASSERT_GT(at, now);
    w.Resend(at);
    EXPECT_EQ(w.Acked(1), at) << "the resend's time";
}

TEST(PublishWindowTest, FailureDrainsThenProbesThenResendsOldestFirst)
{
    PublishWindow w(Limits());
    for (std::uint64_t seq = 1; seq <= 4; ++seq)
        w.SentNew(seq, 0);
    w.Acked(1);
    EXPECT_TRUE(w.Failed(3, Msg(3), 10 * Ms));
    EXPECT_EQ(w.CurrentState(), State::Draining);
    EXPECT_EQ(Next(w, 10 * Ms), Step::Wait) << "2 and 4 may still be stored";
    EXPECT_TRUE(w.Failed(2, Msg(2), 20 * Ms));
    EXPECT_FALSE(w.Failed(7, Msg(7), 20 * Ms)) << "not held: the caller keeps it";
    EXPECT_EQ(Next(w, 20 * Ms), Step::Wait);
    EXPECT_TRUE(w.Failed(4, Msg(4), 30 * Ms));
    EXPECT_EQ(w.CurrentState(), State::Probing);

    // The oldest failed record goes alone; each failure doubles the pause up to its bound.
    std::int64_t now = 30 * Ms, wakeAt = 0;
    for (std::int64_t pause : {100 * Ms, 200 * Ms, 300 * Ms, 300 * Ms}) {
        ASSERT_EQ(Next(w, now), Step::Resend);
        ASSERT_EQ(Seq(w.Resend(now)), 2u);
        EXPECT_EQ(Next(w, now), Step::Wait) << "one probe at a time";
        w.Failed(2, Msg(2), now);
        EXPECT_EQ(Next(w, now + pause - 1, &wakeAt), Step::Wait);
        EXPECT_EQ(wakeAt, now + pause);
        now += pause;
    }
    // A new leader: the probe goes without its pause, which starts again.
    w.ProbeNow();
    ASSERT_EQ(Next(w, now - 1), Step::Resend);
    ASSERT_EQ(Seq(w.Resend(now)), 2u);
    w.Failed(2, Msg(2), now);
    EXPECT_EQ(Next(w, now + 100 * Ms - 1, &wakeAt), Step::Wait);
    EXPECT_EQ(wakeAt, now + 100 * Ms);
    now += 100 * Ms;
    ASSERT_EQ(Next(w, now), Step::Resend);
    ASSERT_EQ(Seq(w.Resend(now)), 2u);
    w.Acked(2);
    EXPECT_EQ(w.CurrentState(), State::Flowing);
    std::vector<std::uint64_t> resent;
    while (Next(w, now) == Step::Resend)
        resent.push_back(Seq(w.Resend(now)));
    EXPECT_EQ(resent, (std::vector<std::uint64_t>{3, 4}));
    EXPECT_EQ(Next(w, now), Step::SendNew);
    w.SentNew(5, now);

    // The next failure probes at once; the pause starts again from the first.
    w.Failed(3, Msg(3), now);
    w.Acked(4);
    w.Failed(5, Msg(5), now);
    ASSERT_EQ(Next(w, now), Step::Resend);
    ASSERT_EQ(Seq(w.Resend(now)), 3u);
    w.Failed(3, Msg(3), now);
    EXPECT_EQ(Next(w, now + 100 * Ms - 1), Step::Wait);
    EXPECT_EQ(Next(w, now + 100 * Ms), Step::Resend);
}

// What the publisher times out: the oldest record still in flight, past
// failed ones waiting to go again.
TEST(PublishWindowTest, OldestInFlightPassesOverFailedRecords)
{
    PublishWindow w(Limits());
    EXPECT_EQ(w.OldestInFlightNs(), 0);
    w.SentNew(1, 10 * Ms);
    w.SentNew(2, 20 * Ms);
    w.SentNew(3, 30 * Ms);
    const struct {
        std::uint64_t seq;
        bool failed;
        std::int64_t oldest;
    } steps[] = {{1, true, 20 * Ms}, {2, false, 30 * Ms}, {3, true, 0}};
    for (const auto& s : steps) {
        if (s.failed)
            w.Failed(s.seq, Msg(s.seq), 40 * Ms);
        else
            w.Acked(s.seq);
        EXPECT_EQ(w.OldestInFlightNs(), s.oldest) << "after record " << s.seq;
    }
    w.Clear([](void*) {});
}

TEST(PublishWindowTest, ClearHandsBackWhatItKeeps)
{
    PublishWindow w(Limits());
    w.SentNew(1, 0);
    w.SentNew(2, 0);
    w.SentNew(3, 0);
    w.Failed(2, Msg(2), 0);
    std::vector<std::uint64_t> dropped;
    w.Clear([&](void* msg) { dropped.push_back(Seq(msg)); });
    EXPECT_EQ(dropped, std::vector<std::uint64_t>{2});
    EXPECT_EQ(w.Held(), 0u);
    EXPECT_EQ(w.InFlight(), 0u);
    EXPECT_EQ(Next(w, 0), Step::SendNew);
}

} // namespace
