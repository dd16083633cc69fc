// The loop across the process's own turns: a loop thread ended by a forced
// unwind (pthread_exit inside a callback) must not take the process down or
// leave a caller waiting for ever, and a forked child gets a loop of its own
// while what it inherited stays inert and leaves the parent's links alone.
#include "FrameClient.h"
#include "Peer.h"
#include "RecordingTimer.h"
#include "TestFrames.h"

#include "KelvoBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvotest {
namespace {

std::atomic<bool> g_exiting{false};

[[noreturn]] void EndLoopThread()
{
    g_exiting.store(true);
    pthread_exit(nullptr);
}

// Waits until the loop thread has started to end, then checks that loop
// calls run in the caller from then on.
bool LoopCallsRunHere()
{
    while (!g_exiting.load())
        std::this_thread::yield();
    std::thread::id ranOn;
    Kelvo_LOOP_Call([](void* p) { *static_cast<std::thread::id*>(p) = std::this_thread::get_id(); }, &ranOn);
    return ranOn == std::this_thread::get_id() && Kelvo_LOOP_InThread() == 0;
}

// Each scenario ends the loop thread from one kind of callback, then the
// objects involved are destroyed from this thread: nothing may abort or hang.
struct Scenario {
    const char* name;
    std::function<bool()> run;
};

bool FromPostedFunction()
{
    Kelvo_LOOP_Post([](void*) { EndLoopThread(); }, nullptr);
    return LoopCallsRunHere();
}

bool FromCalledFunction()
{
    std::thread caller([] { Kelvo_LOOP_Call([](void*) { EndLoopThread(); }, nullptr); });
    caller.join(); // its call returns although the function never did
    return LoopCallsRunHere();
}

bool FromTimerExpiry()
{
    auto timer = std::make_unique<RecordingTimer>();
    timer->hook = [](unsigned int) { EndLoopThread(); };
    timer->SetTimer(1, 0, 0, 0, nullptr);
    const bool ok = LoopCallsRunHere();
    timer.reset(); // waits for an expiry in flight: there is none any more
    return ok;
}

bool FromConnectionCallback(bool onFrame)
{
    Listener listener;
    auto client = std::make_unique<FrameClient>();
    if (onFrame) {
        client->onFrame = [](FrameClient&, std::size_t) { EndLoopThread(); };
    } else {
        client->onEvent = [](FrameClient&, const ClientEvent& e) {
            if (e.kind == ClientEvent::Disconnected)
                EndLoopThread();
            return 0;
        };
    }
    std::unique_ptr<PeerConn> peer = Connected(*client, listener);
    if (!peer || (onFrame && !peer->Write(MakeFrame(1, 1, 16))))
        return false;
    if (!onFrame)
        peer->Close();
    const bool ok = LoopCallsRunHere();
    client.reset(); // closes on this thread now
    return ok;
}

TEST(ForcedUnwind, ALoopThreadEndedInACallbackLeavesNoCallerWaiting)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Scenario scenarios[] = {
        {"posted function", FromPostedFunction},
        {"called function", FromCalledFunction},
        {"timer expiry", FromTimerExpiry},
        {"received frame", [] { return FromConnectionCallback(true); }},
        {"lost link", [] { return FromConnectionCallback(false); }},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        // exit() also stops and joins the loop, whose thread is gone.
        EXPECT_EXIT(std::exit(s.run() ? 0 : 1), ::testing::ExitedWithCode(0), "");
    }
}

// The kernel's id of the loop thread: a forked child's new thread may get
// the parent's loop thread's std::thread::id (its stack is reused).
long LoopThreadId()
{
    long tid = 0;
    RunOnLoop([&] { tid = static_cast<long>(syscall(SYS_gettid)); });
    return tid;
}

// Runs child() in a forked child and returns its exit status; a child that
// hangs is ended by an alarm, which the status shows.
int InChild(const std::function<int()>& child)
{
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        _exit(child());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Fork, TheChildGetsALoopOfItsOwnAndTheParentKeepsItsLink)
{
    Listener listener;
    auto parentClient = std::make_unique<FrameClient>();
    std::unique_ptr<PeerConn> peer = Connected(*parentClient, listener);
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->Write(MakeFrame(1, 1, 8)));
    ASSERT_TRUE(parentClient->WaitFrames(1));
    RecordingTimer parentTimer; // never armed: inherited, it must stay inert
    const long parentLoop = LoopThreadId();

    // Each check the child makes is one bit of its exit code.
    const int code = ExitCode(InChild([&] {
        int failed = 0;
        const long childLoop = LoopThreadId();
        failed |= (childLoop == 0 || childLoop == getpid() || childLoop == parentLoop) ? 1 : 0;
        RecordingTimer own;
        failed |= own.SetTimer(5, 0, 0, 0, nullptr) == 0 ? 2 : 0;
        failed |= own.WaitFired(1) ? 0 : 4;
        // What came from the parent does nothing in the child.
        failed |= parentTimer.SetTimer(5, 0, 0, 0, nullptr) == 0 ? 0 : 8;
        Kelvo_String* frame = new Kelvo_String("x");
        failed |= parentClient->SendData(frame) == 0 ? 0 : 16;
        delete frame;
        failed |= parentClient->Connect("127.0.0.1", listener.Port()) == -1 ? 0 : 32;
        parentClient.reset(); // closes nothing of the parent's
        // A new connection in the child works.
        Listener childListener;
        FrameClient childClient;
        std::unique_ptr<PeerConn> childPeer = Connected(childClient, childListener);
        failed |= childPeer && childPeer->Write(MakeFrame(2, 1, 8)) && childClient.WaitFrames(1) ? 0 : 64;
        return failed;
    }));
    EXPECT_EQ(code, 0);

    // The parent's link is untouched by the child's Close.
    ASSERT_TRUE(peer->Write(MakeFrame(1, 2, 8)));
    EXPECT_TRUE(parentClient->WaitFrames(2));
    EXPECT_EQ(LoopThreadId(), parentLoop);
}

} // namespace
} // namespace kelvotest
#endif
