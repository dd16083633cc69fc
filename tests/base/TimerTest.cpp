// Kelvo_Timer on the real loop: expiry order, cancelled and foreign ids, id
// uniqueness, the per-object cap, destruction with timers armed, and
// ClearTimer from another thread waiting for an expiry in flight. Only the
// ORDER of expiries is asserted, never their timing.
#include "FrameClient.h"
#include "RecordingTimer.h"

#include "KelvoBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#ifdef __linux__
#include <time.h>
#endif

namespace kelvotest {
namespace {

TEST(Timer, ExpiriesComeInDeadlineOrderAndTiesInArmingOrder)
{
    RecordingTimer timer;
    std::vector<unsigned int> expected(6);
    // Armed inside one loop callback, so all share one "now".
    RunOnLoop([&] {
        expected[4] = timer.SetTimer(50, 4, 0, 0, nullptr);
        expected[0] = timer.SetTimer(10, 0, 0, 0, "first");
        expected[2] = timer.SetTimer(30, 2, 0, 0, nullptr);
        expected[1] = timer.SetTimer(20, 1, 0, 0, nullptr);
        expected[3] = timer.SetTimer(30, 3, 0, 0, nullptr);
        expected[5] = timer.SetTimer(60, 5, 0, 0, nullptr);
    });
    ASSERT_TRUE(timer.WaitFired(6));
    EXPECT_EQ(timer.Fired(), expected);
    EXPECT_EQ(timer.users, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(timer.errors.load(), 0);
}

TEST(Timer, ClearedIdsNeverFire)
{
    RecordingTimer timer;
    unsigned int cleared = 0;
    unsigned int kept = 0;
    // Armed and cleared in one loop callback: the expiry cannot come first,
    // however loaded the machine.
    RunOnLoop([&] {
        cleared = timer.SetTimer(10, 0, 0, 0, nullptr);
        kept = timer.SetTimer(40, 1, 0, 0, nullptr);
        timer.ClearTimer(cleared);
    });
    ASSERT_TRUE(timer.WaitFired(1));
    EXPECT_EQ(timer.Fired(), std::vector<unsigned int>{kept});
    timer.ClearTimer(kept); // already fired: ignored
}

TEST(Timer, AnExpiryThatThrowsLosesOnlyItself)
{
    RecordingTimer thrower;
    RecordingTimer other;
    std::atomic<unsigned int> throwing{0};
    // Throws before recording: only the expiries that returned are recorded.
    thrower.hook = [&](unsigned int id) {
        if (id == throwing.load())
            throw std::runtime_error("expiry failed");
    };
    unsigned int later = 0;
    unsigned int otherId = 0;
    RunOnLoop([&] {
        throwing = thrower.SetTimer(10, 0, 0, 0, nullptr);
        otherId = other.SetTimer(10, 0, 0, 0, nullptr);
        later = thrower.SetTimer(30, 1, 0, 0, nullptr);
    });
    ASSERT_TRUE(other.WaitFired(1));
    ASSERT_TRUE(thrower.WaitFired(1)) << "the object that threw keeps its other timers";
    EXPECT_EQ(other.Fired(), std::vector<unsigned int>{otherId});
    EXPECT_EQ(thrower.Fired(), std::vector<unsigned int>{later});
}

// The resolution of the clock timers count from: the coarse monotonic clock
// on Linux, the full one elsewhere.
std::chrono::nanoseconds DeadlineClockResolution()
{
#ifdef __linux__
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC_COARSE, &res) == 0)
        return std::chrono::seconds(res.tv_sec) + std::chrono::nanoseconds(res.tv_nsec);
#endif
    return std::chrono::nanoseconds(0);
}

// A deadline counts from the SetTimer call, also at the end of a long
// callback, give or take the resolution of the clock it is read from. Load
// can only lengthen the wait, so a lower bound is safe here.
TEST(Timer, ADeadlineCountsFromTheCallNotFromTheStartOfTheCallback)
{
    RecordingTimer timer;
    std::chrono::steady_clock::time_point firedAt;
    timer.hook = [&](unsigned int) { firedAt = std::chrono::steady_clock::now(); };
    std::chrono::steady_clock::time_point calledAt;
    RunOnLoop([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400)); // a slow callback
        calledAt = std::chrono::steady_clock::now();
        timer.SetTimer(500, 0, 0, 0, nullptr);
    });
    ASSERT_TRUE(timer.WaitFired(1));
    EXPECT_GE(firedAt - calledAt, std::chrono::milliseconds(500) - DeadlineClockResolution());
}

TEST(Timer, ClearTimerIgnoresZeroUnknownAndOtherObjectsIds)
{
    RecordingTimer owner;
    RecordingTimer stranger;
    const unsigned int id = owner.SetTimer(10, 0, 0, 0, nullptr);
    stranger.ClearTimer(id);
    owner.ClearTimer(0);
    owner.ClearTimer(id ^ 0x5A5A0000u);
    ASSERT_TRUE(owner.WaitFired(1));
    EXPECT_EQ(owner.Fired(), std::vector<unsigned int>{id});
}

TEST(Timer, IdsAreNonZeroAndDistinctAcrossObjects)
{
    RecordingTimer a;
    RecordingTimer b;
    std::set<unsigned int> ids;
    for (int i = 0; i < 900; ++i) {
        for (RecordingTimer* t : {&a, &b}) {
            const unsigned int id = t->SetTimer(600000, i, 0, 0, nullptr);
            EXPECT_NE(id, 0u);
            EXPECT_TRUE(ids.insert(id).second) << "id " << id << " given twice";
        }
    }
}

TEST(Timer, ArmingPastTheCapCancelsTheEarliestArmed)
{
    RecordingTimer timer;
    RecordingTimer marker;
    unsigned int firstArmed = 0;
    RunOnLoop([&] {
        // The first one armed has the LATEST deadline: the cap must drop it
        // for being armed first, not for its deadline.
        firstArmed = timer.SetTimer(100, -1, 0, 0, nullptr);
        for (int i = 0; i < KELVO_TIMER_MAX_PENDING; ++i)
            timer.SetTimer(10, i, 0, 0, nullptr);
        marker.SetTimer(300, 0, 0, 0, nullptr);
    });
    ASSERT_TRUE(marker.WaitFired(1));
    const std::vector<unsigned int> fired = timer.Fired();
    EXPECT_EQ(fired.size(), static_cast<std::size_t>(KELVO_TIMER_MAX_PENDING));
    for (unsigned int id : fired)
        EXPECT_NE(id, firstArmed);
}

// An expiry counts as late when it comes after its object was destroyed.
struct Guarded : Kelvo_Timer {
    std::atomic<bool>* dead = nullptr;
    std::atomic<int>* late = nullptr;
    void OnTimer(unsigned int, int, int) override
    {
        if (dead->load())
            ++*late;
    }
};

TEST(Timer, DestroyedOnTheLoopWithTimersDueItsExpiriesNeverCome)
{
    std::atomic<int> late{0};
    std::vector<std::unique_ptr<std::atomic<bool>>> flags;
    RunOnLoop([&] {
        for (int round = 0; round < 100; ++round) {
            flags.push_back(std::make_unique<std::atomic<bool>>(false));
            auto timer = std::make_unique<Guarded>();
            timer->dead = flags.back().get();
            timer->late = &late;
            for (unsigned int ms = 0; ms < 3; ++ms)
                timer->SetTimer(ms, 0, 0, 0, nullptr);
            timer.reset(); // due timers cannot fire before this callback returns
            *flags.back() = true;
        }
    });
    RecordingTimer marker;
    marker.SetTimer(20, 0, 0, 0, nullptr);
    ASSERT_TRUE(marker.WaitFired(1));
    EXPECT_EQ(late.load(), 0);
}

TEST(Timer, DestroyedFromAnotherThreadWithTimersArmedItsExpiriesNeverCome)
{
    std::atomic<int> late{0};
    std::vector<std::unique_ptr<std::atomic<bool>>> flags;
    for (int round = 0; round < 100; ++round) {
        flags.push_back(std::make_unique<std::atomic<bool>>(false));
        auto timer = std::make_unique<Guarded>();
        timer->dead = flags.back().get();
        timer->late = &late;
        // Not due before the destructor runs: a derived object destroyed
        // while its own OnTimer runs would race on its members, whatever the
        // base class does.
        for (unsigned int ms = 200; ms < 204; ++ms)
            timer->SetTimer(ms, 0, 0, 0, nullptr);
        timer.reset();
        *flags.back() = true;
    }
    RecordingTimer marker;
    marker.SetTimer(400, 0, 0, 0, nullptr);
    ASSERT_TRUE(marker.WaitFired(1));
    EXPECT_EQ(late.load(), 0);
}

TEST(Timer, ClearInsideAnotherExpiryTakesEffectAtOnce)
{
    RecordingTimer first;
    RecordingTimer second;
    RecordingTimer marker;
    unsigned int victim = 0;
    first.hook = [&](unsigned int) { second.ClearTimer(victim); };
    RunOnLoop([&] {
        first.SetTimer(10, 0, 0, 0, nullptr);
        victim = second.SetTimer(10, 0, 0, 0, nullptr); // same deadline, after first
        marker.SetTimer(50, 0, 0, 0, nullptr);
    });
    ASSERT_TRUE(marker.WaitFired(1));
    EXPECT_EQ(first.Fired().size(), 1u);
    EXPECT_TRUE(second.Fired().empty());
}

TEST(Timer, AnObjectMayDestroyItselfInsideItsOwnExpiry)
{
    struct SelfDeleting : Kelvo_Timer {
        Signal* done;
        void OnTimer(unsigned int, int, int) override
        {
            SetTimer(0, 0, 0, 0, nullptr); // cancelled by the destructor
            Signal* signal = done;
            delete this;
            signal->Set();
        }
    };
    Signal done;
    auto* timer = new SelfDeleting();
    timer->done = &done;
    timer->SetTimer(1, 0, 0, 0, nullptr);
    ASSERT_TRUE(done.Wait());
    RecordingTimer marker;
    marker.SetTimer(10, 0, 0, 0, nullptr);
    EXPECT_TRUE(marker.WaitFired(1));
}

// ClearTimer from another thread while an expiry of the object runs must not
// return before that expiry has. The expiry waits (boundedly) for a sign
// that the clearing thread went on; with a correct library that sign never
// comes.
TEST(Timer, ClearTimerFromAnotherThreadWaitsForTheExpiryInFlight)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool clearReturned = false;
    bool returnedEarly = false;
    auto timer = std::make_unique<RecordingTimer>();
    timer->hook = [&](unsigned int) {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        changed.notify_all();
        returnedEarly = changed.wait_for(lock, std::chrono::milliseconds(300), [&] { return clearReturned; });
    };
    const unsigned int id = timer->SetTimer(1, 0, 0, 0, nullptr);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return entered; }));
    }
    timer->ClearTimer(id);
    std::lock_guard<std::mutex> lock(mutex);
    clearReturned = true;
    changed.notify_all();
    EXPECT_FALSE(returnedEarly);
}

TEST(Timer, ATimerClearedBeforeTheLoopArmedItLeavesLaterTimersWorking)
{
    // Hold the loop so that the re-arm SetTimer queues runs after ClearTimer.
    Signal release;
    Signal holding;
    struct Hold {
        Signal* holding;
        Signal* release;
    } hold{&holding, &release};
    Kelvo_LOOP_Post(
        [](void* p) {
            auto* h = static_cast<Hold*>(p);
            h->holding->Set();
            h->release->Wait();
        },
        &hold);
    ASSERT_TRUE(holding.Wait());
    RecordingTimer timer;
    timer.ClearTimer(timer.SetTimer(100, 0, 0, 0, nullptr));
    release.Set();
    RunOnLoop([] {}); // queued behind the re-arm, which found nothing to arm
    RecordingTimer later;
    const unsigned int id = later.SetTimer(200, 0, 0, 0, nullptr);
    ASSERT_TRUE(later.WaitFired(1));
    EXPECT_EQ(later.Fired(), std::vector<unsigned int>{id});
    EXPECT_TRUE(timer.Fired().empty());
}

TEST(Timer, ArmedFromManyThreadsEveryTimerFiresOnce)
{
    RecordingTimer timer;
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                timer.SetTimer(static_cast<unsigned int>(i % 7), t, 0, 0, nullptr);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(timer.WaitFired(kThreads * kEach));
    const std::vector<unsigned int> fired = timer.Fired();
    EXPECT_EQ(std::set<unsigned int>(fired.begin(), fired.end()).size(), fired.size());
}

// The loop thread re-arms its idle timer with no atomic operation while other
// threads arm and clear theirs: nothing is lost, nothing cleared fires.
TEST(Timer, LoopReArmsWhileOtherThreadsArmAndClearEveryTimerFiresOnce)
{
    ExpectReArmsAndForeignTimersFireOnce(2, 1000);
}

} // namespace
} // namespace kelvotest
