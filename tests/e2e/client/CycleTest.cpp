// Clients created, started and released over and over against one front:
// memory, threads and file descriptors come back to where they were. Under
// AddressSanitizer the leak check at exit covers what the counts cannot.
#include "E2eSupport.h"

namespace e2e {
namespace {

class Cycles : public ClientTest {
protected:
    // Every fourth client is released while it is still connecting, the
    // others once logged in.
    void Cycle(const mdfront::FrontServer& front, int i)
    {
        Session session;
        CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
        session.api = api;
        api->RegisterSpi(&session);
        std::string address = Address(front);
        api->RegisterFront(&address[0]);
        api->Init();
        if (i % 4 != 3) {
            EXPECT_TRUE(session.WaitCount(Kind::Login, 1)) << "cycle " << i;
        }
        api->Release();
    }
};

TEST_F(Cycles, TwoHundredClientsLeaveNothingBehind)
{
    mdfront::FrontConfig cfg = BaseConfig();
    cfg.record_limit = 4;
    mdfront::FrontServer& front = AddFront(cfg);
    // Warm-up: the loop thread, its descriptors and the allocator's pools
    // come with the first clients and stay.
    for (int i = 0; i < 20; ++i)
        Cycle(front, i);
    // Counted with the front stopped, so its own thread and sockets are gone.
    const long withFront = CountProcess().threads;
    front.Stop();
    ProcessCounts before = CountProcess();
    before.threads = ThreadsOnceAtMost(withFront - 1);
    front.Start();
    for (int i = 0; i < 200 && !HasFailure(); ++i)
        Cycle(front, i);
    front.Stop();
    ProcessCounts after = CountProcess();
    after.threads = ThreadsOnceAtMost(before.threads);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.fds, before.fds);
    // Sanitizers hold on to freed memory; there the leak check does this job.
    if (!Sanitized()) {
        EXPECT_LT(after.residentKiB - before.residentKiB, 8 * 1024)
            << "resident KiB before " << before.residentKiB << ", after " << after.residentKiB;
    }
}

} // namespace
} // namespace e2e
