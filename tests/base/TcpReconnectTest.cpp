// Delayed reconnection after a refused connect and after the peer closes,
// SetReconnectAddr, a delay ignored after Close inside the callback, Abort
// inside OnRecvData, callbacks that throw, and name resolution.
#include "FrameClient.h"
#include "Peer.h"
#include "PlatformErrors.h"
#include "TestFrames.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace kelvotest {
namespace {

// A timer whose expiry marks a point in the loop's time line.
class Marker : public Kelvo_Timer {
public:
    void OnTimer(unsigned int, int, int) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fired_ = true;
        changed_.notify_all();
    }
    bool Wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kLimit, [this] { return fired_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool fired_ = false;
};

TEST(Reconnect, AfterARefusedConnectTheDelayBringsAnotherAttempt)
{
    FrameClient client;
    client.onEvent = [](FrameClient& self, const ClientEvent& event) {
        // Two attempts, then stop.
        return event.kind == ClientEvent::ConnectFailed && self.Events().size() < 2 ? 10 : 0;
    };
    ASSERT_EQ(client.Connect("127.0.0.1", RefusingPort()), 0);
    ASSERT_TRUE(client.WaitEvents(2));
    const std::vector<ClientEvent> events = client.Events();
    for (const ClientEvent& event : events) {
        EXPECT_EQ(event.kind, ClientEvent::ConnectFailed);
        EXPECT_EQ(event.reason, kConnRefused);
    }
}

TEST(Reconnect, SetReconnectAddrRedirectsTheDelayedAttempt)
{
    Listener other;
    const int otherPort = other.Port();
    FrameClient client;
    client.onEvent = [otherPort](FrameClient& self, const ClientEvent& event) {
        if (event.kind != ClientEvent::ConnectFailed)
            return 0;
        self.SetReconnectAddr("127.0.0.1", otherPort);
        return 10;
    };
    ASSERT_EQ(client.Connect("127.0.0.1", RefusingPort()), 0);
    std::unique_ptr<PeerConn> peer = other.Accept();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(client.WaitEvents(2));
    const std::vector<ClientEvent> events = client.Events();
    EXPECT_EQ(events[0].kind, ClientEvent::ConnectFailed);
    EXPECT_EQ(events[1].kind, ClientEvent::ConnectOk);
}

TEST(Reconnect, AfterThePeerClosesTheSameAddressIsConnectedAgain)
{
    Listener listener;
    FrameClient client;
    client.onEvent = [](FrameClient&, const ClientEvent& event) {
        return event.kind == ClientEvent::Disconnected ? 10 : 0;
    };
    std::unique_ptr<PeerConn> first = Connected(client, listener);
    ASSERT_TRUE(first);
    first->Close();
    std::unique_ptr<PeerConn> second = listener.Accept();
    ASSERT_TRUE(second);
    ASSERT_TRUE(client.WaitEvents(3));
    const std::vector<ClientEvent> events = client.Events();
    EXPECT_EQ(events[0].kind, ClientEvent::ConnectOk);
    EXPECT_EQ(events[1].kind, ClientEvent::Disconnected);
    EXPECT_EQ(events[1].reason, 0); // orderly close
    EXPECT_EQ(events[2].kind, ClientEvent::ConnectOk);
    client.Close();
}

TEST(Reconnect, TheDelayIsIgnoredWhenTheCallbackClosed)
{
    Listener listener;
    const int port = listener.Port();
    FrameClient client;
    client.onEvent = [port](FrameClient& self, const ClientEvent&) {
        // Would send the retry to the listener, had Close not cancelled it.
        self.SetReconnectAddr("127.0.0.1", port);
        self.Close();
        return 1;
    };
    ASSERT_EQ(client.Connect("127.0.0.1", RefusingPort()), 0);
    ASSERT_TRUE(client.WaitEvents(1));
    // A retry after 1 ms would have connected long before this 200 ms
    // marker fires on the same loop.
    Marker marker;
    marker.SetTimer(200, 0, 0, 0, nullptr);
    ASSERT_TRUE(marker.Wait());
    EXPECT_EQ(listener.Accept(std::chrono::milliseconds(200)), nullptr);
    EXPECT_EQ(client.Events().size(), 1u);
}

TEST(Reconnect, AbortInsideOnRecvDataReportsConnAbortedThenReconnects)
{
    Listener listener;
    FrameClient client;
    client.onFrame = [](FrameClient& self, std::size_t index) {
        if (index == 2)
            self.Abort();
    };
    client.onEvent = [](FrameClient&, const ClientEvent& event) {
        return event.kind == ClientEvent::Disconnected ? 10 : 0;
    };
    ASSERT_EQ(client.Connect("127.0.0.1", listener.Port()), 0);
    std::unique_ptr<PeerConn> first = listener.Accept();
    ASSERT_TRUE(first);
    std::string burst;
    for (std::uint32_t i = 0; i < 10; ++i)
        burst += MakeFrame(1, i, 50);
    ASSERT_TRUE(first->Write(burst)); // all ten in one read
    std::unique_ptr<PeerConn> second = listener.Accept();
    ASSERT_TRUE(second);
    ASSERT_TRUE(client.WaitEvents(3));
    EXPECT_TRUE(first->WaitClosed());
    const std::vector<ClientEvent> events = client.Events();
    EXPECT_EQ(events[1].kind, ClientEvent::Disconnected);
    EXPECT_EQ(events[1].reason, kConnAborted);
    EXPECT_EQ(events[2].kind, ClientEvent::ConnectOk);
    EXPECT_EQ(client.FrameCount(), 3u); // nothing after the Abort
    client.Close();
}

// A handler callback that throws never stops its connection silently: the
// link goes as lost, with the reason Abort gives, and the reconnect follows
// as usual, also when the throw comes from the callback that names the delay
// (then KELVO_RECONNECT_AFTER_THROW_MS, to where SetReconnectAddr said).
enum class Throws { RecvData, ConnectOk, DisConnect, ConnectFaild };

class ThrowingHandler : public ::testing::TestWithParam<Throws> {};

TEST_P(ThrowingHandler, TheLinkIsReportedLostAndConnectedAgain)
{
    const Throws where = GetParam();
    Listener listener;
    const int port = listener.Port();
    FrameClient client;
    std::atomic<bool> thrown{false};
    const auto throwOnce = [&thrown](Throws here, Throws target) {
        if (here == target && !thrown.exchange(true))
            throw std::runtime_error("callback failed");
    };
    client.onFrame = [&](FrameClient&, std::size_t) { throwOnce(Throws::RecvData, where); };
    client.onEvent = [&](FrameClient& self, const ClientEvent& event) {
        switch (event.kind) {
        case ClientEvent::ConnectOk: throwOnce(Throws::ConnectOk, where); return 0;
        case ClientEvent::ConnectFailed:
            self.SetReconnectAddr("127.0.0.1", port);
            throwOnce(Throws::ConnectFaild, where);
            return 10;
        case ClientEvent::Disconnected: throwOnce(Throws::DisConnect, where); return 10;
        }
        return 0;
    };
    const bool refused = where == Throws::ConnectFaild;
    ASSERT_EQ(client.Connect("127.0.0.1", refused ? RefusingPort() : port), 0);
    std::unique_ptr<PeerConn> first = listener.Accept();
    ASSERT_TRUE(first);
    std::unique_ptr<PeerConn> second;
    if (!refused) {
        if (where == Throws::RecvData) {
            ASSERT_TRUE(first->Write(MakeFrame(1, 0, 4) + MakeFrame(1, 1, 4)));
        }
        if (where == Throws::DisConnect)
            first->Close();
        second = listener.Accept();
        ASSERT_TRUE(second);
    }
    ASSERT_TRUE(client.WaitEvents(refused ? 2 : 3));
    client.Close();
    EXPECT_TRUE(thrown.load());
    const std::vector<ClientEvent> events = client.Events();
    if (refused) {
        EXPECT_EQ(events[0].kind, ClientEvent::ConnectFailed);
        EXPECT_EQ(events[1].kind, ClientEvent::ConnectOk);
        return;
    }
    EXPECT_EQ(events[0].kind, ClientEvent::ConnectOk);
    EXPECT_EQ(events[1].kind, ClientEvent::Disconnected);
    EXPECT_EQ(events[1].reason, where == Throws::DisConnect ? 0 : kConnAborted);
    EXPECT_EQ(events[2].kind, ClientEvent::ConnectOk);
    EXPECT_EQ(client.FrameCount(), where == Throws::RecvData ? 1u : 0u) << "nothing after the throw";
}

std::string CallbackName(const ::testing::TestParamInfo<Throws>& info)
{
    const char* const names[] = {"OnRecvData", "OnConnectOk", "OnDisConnect", "OnConnectFaild"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Callbacks, ThrowingHandler,
                         ::testing::Values(Throws::RecvData, Throws::ConnectOk, Throws::DisConnect,
                                           Throws::ConnectFaild),
                         CallbackName);

TEST(Resolve, LocalhostIsResolvedByName)
{
    Listener listener;
    FrameClient client;
    ASSERT_EQ(client.Connect("localhost", listener.Port()), 0);
    std::unique_ptr<PeerConn> peer = listener.Accept();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(client.WaitEvents(1));
    EXPECT_EQ(client.Events()[0].kind, ClientEvent::ConnectOk);
}

TEST(Resolve, BracketedIpv6LiteralIsParsed)
{
    std::unique_ptr<Listener> listener;
    try {
        listener = std::make_unique<Listener>("::1");
    } catch (const std::exception&) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    FrameClient client;
    ASSERT_EQ(client.Connect("[::1]", listener->Port()), 0);
    std::unique_ptr<PeerConn> peer = listener->Accept();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(client.WaitEvents(1));
    EXPECT_EQ(client.Events()[0].kind, ClientEvent::ConnectOk);
}

TEST(Resolve, ANullHostIsRefusedAtOnce)
{
    FrameClient client;
    EXPECT_EQ(client.Connect(nullptr, 1), -1);
}

TEST(Resolve, APortOutOfRangeFailsOnTheLoop)
{
    FrameClient client;
    ASSERT_EQ(client.Connect("127.0.0.1", 70000), 0);
    ASSERT_TRUE(client.WaitEvents(1));
    EXPECT_EQ(client.Events()[0].kind, ClientEvent::ConnectFailed);
    EXPECT_EQ(client.Events()[0].reason, kInvalid);
}

} // namespace
} // namespace kelvotest
