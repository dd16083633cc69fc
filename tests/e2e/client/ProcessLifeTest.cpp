// The client across the process's own turns: an application callback that
// ends the loop thread (pthread_exit, as CPython does to threads at exit),
// and a fork after the library was used.
#include "E2eSupport.h"

#ifndef _WIN32
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace e2e {
namespace {

using ForcedUnwind = ClientTest;

TEST_F(ForcedUnwind, ACallbackEndingTheLoopThreadLeavesReleaseWorking)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    mdfront::FrontServer& front = AddFront(BaseConfig());
    session_->instruments = {"au2612"};
    std::atomic<bool> exiting{false};
    session_->onEvent = [&](const Event& e) {
        if (e.kind == Kind::Depth) {
            exiting.store(true);
            pthread_exit(nullptr);
        }
    };
    EXPECT_EXIT(
        {
            StartClient({Address(front)});
            while (!exiting.load())
                std::this_thread::yield();
            api_->Release(); // runs here now: the loop thread is gone
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

using Fork = ClientTest;

TEST_F(Fork, AChildConnectsOnItsOwnAndTheParentsLinkGoesOn)
{
    mdfront::FrontServer& front = AddFront(BaseConfig());
    session_->instruments = {"au2612"};
    StartClient({Address(front)});
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 2));
    const std::string address = Address(front);

    const pid_t pid = fork();
    if (pid == 0) {
        alarm(120); // a hang ends the child, and the parent sees the signal
        int failed = 0;
        Session child;
        child.instruments = {"au2612"};
        CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
        child.api = api;
        api->RegisterSpi(&child);
        std::string writable = address;
        api->RegisterFront(&writable[0]);
        api->Init();
        failed |= child.WaitCount(Kind::Depth, 3) ? 0 : 1;
        api->Release();
        // The inherited client does nothing in the child: no request goes
        // out, and Release frees it without touching the parent's socket.
        char id[] = "ag2612";
        char* ids[] = {id};
        failed |= api_->SubscribeMarketData(ids, 1) == -1 ? 0 : 2;
        api_->Release();
        _exit(failed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(front.ConnectionCount(), 2u);
    // The parent's link carries on, on the parent's loop.
    const std::size_t before = session_->Count(Kind::Depth);
    EXPECT_TRUE(session_->WaitCount(Kind::Depth, before + 2));
    EXPECT_EQ(session_->Count(Kind::Disconnected), 0u);
}

} // namespace
} // namespace e2e
#endif
