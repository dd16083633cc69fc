// The timer lock when the process-wide barrier fails (BarrierFault): the lock
// gives up its bias for good, and a thread whose barrier failed enters only
// after a round trip through the loop, so never while the loop is inside.
// First a LoopLock of its own against a loop thread of the test's, then the
// base library's timers. Thread-sanitizer builds have no biased lock at all;
// there the cases that need one are skipped.
#include "LoopLock.h"
#include "BarrierFault.h"
#include "FrameClient.h"
#include "RecordingTimer.h"

#include "KelvoBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

namespace kelvotest {
namespace {

// The loop's stand-in: one thread running what is posted, in order.
class TestLoop {
public:
    ~TestLoop()
    {
        Post({});
        thread_.join();
    }
    void Post(std::function<void()> fn)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(fn));
        changed_.notify_all();
    }
    // Runs fn on the loop thread and waits for it.
    void Call(const std::function<void()>& fn)
    {
        Signal done;
        Post([&] {
            fn();
            done.Set();
        });
        ASSERT_TRUE(done.Wait());
    }
    // LoopLock's round trip; counts the trips begun.
    static void RoundTrip(void* self)
    {
        auto* loop = static_cast<TestLoop*>(self);
        ++loop->roundTrips;
        loop->roundTripBegun.Set();
        loop->Call([] {});
    }
    std::atomic<int> roundTrips{0};
    Signal roundTripBegun;

private:
    void Run()
    {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return !tasks_.empty(); });
                fn = std::move(tasks_.front());
                tasks_.pop_front();
            }
            if (!fn)
                return;
            fn();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    std::thread thread_{[this] { Run(); }};
};

// Where the barrier fails and what that costs a thread taking the lock.
struct FailureCase {
    const char* where;
    bool failRegistration;
    bool failBarrier;
    int roundTrips; // of the first lock() after the failure
};

// Every case starts with a barrier that works, also when one program runs
// them all.
void PrintTo(const FailureCase& c, std::ostream* out)
{
    *out << "failing at " << c.where;
}

class BarrierFailure : public ::testing::TestWithParam<FailureCase> {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        BarrierFault::failRegistration = false;
        BarrierFault::failBarrier = false;
    }
};

TEST_P(BarrierFailure, TheLockStopsFavouringTheLoopForGoodAndExcludesItAfterARoundTrip)
{
    const FailureCase& c = GetParam();
    TestLoop loop;
    BarrierFault::failRegistration = c.failRegistration;
    kelvo::LoopLock lock(&TestLoop::RoundTrip, &loop);
    if (!c.failRegistration && !lock.BiasedForTest())
        GTEST_SKIP() << "no process-wide barrier in this build or on this kernel";
    const int barriersBefore = BarrierFault::barriers.load();

    // The loop inside a section while another thread's barrier fails.
    Signal inside;
    Signal leave;
    bool biased = false;
    loop.Post([&] {
        biased = lock.TryEnterFromLoop();
        std::optional<kelvo::LoopLock::BiasedSection> section;
        std::unique_lock<kelvo::SpinLock> spin(lock.Spin(), std::defer_lock);
        if (biased)
            section.emplace(lock);
        else
            spin.lock();
        inside.Set();
        leave.Wait();
    });
    ASSERT_TRUE(inside.Wait());
    EXPECT_EQ(biased, !c.failRegistration);
    BarrierFault::failBarrier = c.failBarrier;
    std::atomic<bool> entered{false};
    std::thread other([&] {
        lock.lock();
        entered = true;
        lock.unlock();
    });
    if (c.roundTrips > 0) {
        // The other thread waits on the loop, which is still inside.
        ASSERT_TRUE(loop.roundTripBegun.Wait());
        EXPECT_FALSE(entered.load());
    }
    leave.Set();
    other.join();
    EXPECT_TRUE(entered.load());
    EXPECT_EQ(loop.roundTrips.load(), c.roundTrips);
    EXPECT_FALSE(lock.BiasedForTest());

    // For good: the loop takes the spin lock from now on, and other threads
    // neither try the barrier again nor wait for the loop.
    loop.Call([&] {
        biased = lock.TryEnterFromLoop();
        if (!biased) {
            std::lock_guard<kelvo::SpinLock> spin(lock.Spin());
            EXPECT_FALSE(lock.Spin().try_lock());
        }
    });
    EXPECT_FALSE(biased);
    std::thread([&] {
        lock.lock();
        lock.unlock();
    }).join();
    EXPECT_EQ(BarrierFault::barriers.load() - barriersBefore, c.failBarrier ? 1 : 0);
    EXPECT_EQ(loop.roundTrips.load(), c.roundTrips);
}

INSTANTIATE_TEST_SUITE_P(Where, BarrierFailure,
                         ::testing::Values(FailureCase{"registration", true, false, 0},
                                           FailureCase{"barrier", false, true, 1}),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.where; });

// The base library's own timers with every barrier failing: the first timer
// call from another thread switches the lock through the real loop, and
// timers still fire once, cleared ones never.
using BarrierFailureInTheLibrary = BarrierFailure;

TEST_F(BarrierFailureInTheLibrary, TimersArmedAndClearedFromOtherThreadsStillFireOnce)
{
    const int registrations = BarrierFault::registrations.load();
    const int barriers = BarrierFault::barriers.load();
    BarrierFault::failBarrier = true;
    RecordingTimer first;
    first.ClearTimer(first.SetTimer(60000, 0, 0, 0, nullptr));
    if (BarrierFault::registrations.load() == registrations)
        GTEST_SKIP() << "no process-wide barrier in this build, or the timers were in use before";
    EXPECT_EQ(BarrierFault::barriers.load() - barriers, 1) << "tried once, then given up for good";
    ExpectReArmsAndForeignTimersFireOnce(1, 400);
    EXPECT_EQ(BarrierFault::barriers.load() - barriers, 1);
}

} // namespace
} // namespace kelvotest
