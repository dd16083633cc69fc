// Kelvo_LOOP_*: which thread, Post runs after the current callback, Call
// waits (and runs inline on the loop), and a throwing callback does not take
// the loop down. Also the tick count.
#include "FrameClient.h"

#include "KelvoBase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>

#ifdef __linux__
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kelvotest {
namespace {

struct Trace {
    std::mutex mutex;
    std::string text;
    void Add(const char* s)
    {
        std::lock_guard<std::mutex> lock(mutex);
        text += s;
    }
};

TEST(Loop, InThreadOnlyOnTheLoop)
{
    EXPECT_EQ(Kelvo_LOOP_InThread(), 0);
    int inside = -1;
    RunOnLoop([&] { inside = Kelvo_LOOP_InThread(); });
    EXPECT_NE(inside, 0);
}

TEST(Loop, PostRunsAfterTheCurrentCallbackReturns)
{
    Trace trace;
    Signal done;
    RunOnLoop([&] {
        Kelvo_LOOP_Post([](void* p) { static_cast<Trace*>(p)->Add("posted;"); }, &trace);
        Kelvo_LOOP_Post([](void* p) { static_cast<Signal*>(p)->Set(); }, &done);
        trace.Add("callback end;");
    });
    ASSERT_TRUE(done.Wait());
    EXPECT_EQ(trace.text, "callback end;posted;");
}

TEST(Loop, PostsFromOneThreadRunInOrder)
{
    Trace trace;
    const char* marks[] = {"a", "b", "c", "d"};
    for (const char* mark : marks) {
        Kelvo_LOOP_Post(
            [](void* p) {
                auto* args = static_cast<std::pair<Trace*, const char*>*>(p);
                args->first->Add(args->second);
                delete args;
            },
            new std::pair<Trace*, const char*>(&trace, mark));
    }
    RunOnLoop([] {}); // queued after the four
    EXPECT_EQ(trace.text, "abcd");
}

TEST(Loop, CallWaitsForTheFunctionAndRunsInlineOnTheLoop)
{
    Trace trace;
    Kelvo_LOOP_Call([](void* p) { static_cast<Trace*>(p)->Add("called;"); }, &trace);
    trace.Add("returned;");
    EXPECT_EQ(trace.text, "called;returned;");

    trace.text.clear();
    RunOnLoop([&] {
        Kelvo_LOOP_Call([](void* p) { static_cast<Trace*>(p)->Add("inline;"); }, &trace);
        trace.Add("after;");
    });
    EXPECT_EQ(trace.text, "inline;after;");
}

TEST(Loop, AThrowingCallbackDoesNotStopTheLoop)
{
    Kelvo_LOOP_Post([](void*) { throw std::runtime_error("posted callback failed"); }, nullptr);
    EXPECT_THROW(Kelvo_LOOP_Call([](void*) { throw std::runtime_error("called"); }, nullptr),
                 std::runtime_error);
    int ran = 0;
    RunOnLoop([&] { ran = 1; });
    EXPECT_EQ(ran, 1);
}

#ifdef __linux__
// The state letter of a thread of this process (R running, S sleeping, ...).
char ThreadState(long tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t name = stat.rfind(')');
    return name != std::string::npos && name + 2 < stat.size() ? stat[name + 2] : '?';
}

// Run once as is and once more (a ctest entry of its own) with
// MDLINK_LOOP_POLL=1 MDLINK_LOOP_CPU=0, since the loop reads them at start.
TEST(LoopMode, SleepsWhenIdleUnlessAskedToPollAndKeepsToItsCpu)
{
    const char* poll = std::getenv("MDLINK_LOOP_POLL");
    const bool polling = poll != nullptr && std::strcmp(poll, "1") == 0;
    long tid = 0;
    RunOnLoop([&] { tid = static_cast<long>(syscall(SYS_gettid)); });
    ASSERT_NE(tid, 0);

    // Idle now: a sleeping loop shows S sooner or later (on a busy machine
    // it may still be finishing the call, or wait for a processor, for a
    // while), a polling one never does.
    if (polling) {
        int sleeping = 0;
        for (int i = 0; i < 200; ++i)
            sleeping += ThreadState(tid) == 'S' ? 1 : 0;
        EXPECT_EQ(sleeping, 0);
    } else {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool slept = false;
        while (!slept && std::chrono::steady_clock::now() < limit)
            slept = ThreadState(tid) == 'S';
        EXPECT_TRUE(slept);
    }

    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(static_cast<pid_t>(tid), sizeof set, &set), 0);
    const char* cpu = std::getenv("MDLINK_LOOP_CPU");
    if (cpu != nullptr && std::strcmp(cpu, "0") == 0) {
        EXPECT_EQ(CPU_COUNT(&set), 1);
        EXPECT_TRUE(CPU_ISSET(0, &set));
    } else {
        cpu_set_t process;
        CPU_ZERO(&process);
        ASSERT_EQ(sched_getaffinity(0, sizeof process, &process), 0);
        EXPECT_TRUE(CPU_EQUAL(&set, &process));
    }
}
#endif

TEST(TickCount, FollowsTheMonotonicClockInMilliseconds)
{
    using namespace std::chrono;
    // On Linux the coarse clock: up to a scheduler tick behind (4 ms at
    // 250 Hz, 10 ms at 100 Hz).
    const unsigned int behind = 10;
    for (int i = 0; i < 100; ++i) {
        const auto before = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        const unsigned int tick = Kelvo_THREAD_GetTickCount();
        const auto after = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        // Wrapping arithmetic: before - behind <= tick <= after modulo 2^32.
        EXPECT_LE(tick - (static_cast<unsigned int>(before) - behind),
                  static_cast<unsigned int>(after - before) + behind);
    }
}

} // namespace
} // namespace kelvotest
