// Close: from the loop thread (inside a callback) and from another thread,
// during a flood of frames; no callback of the closed connection follows,
// Close never reports OnDisConnect, and a later Connect starts afresh.
#include "FrameClient.h"
#include "Peer.h"
#include "TestFrames.h"

#include <gtest/gtest.h>

#include <thread>

namespace kelvotest {
namespace {

// Writes frames until the client closes the connection (a write fails) or
// a generous deadline passes. The peer's socket is this thread's alone
// meanwhile.
class Flood {
public:
    explicit Flood(PeerConn& peer)
        : thread_([this, &peer] {
              std::string burst;
              for (std::uint32_t i = 0; i < 64; ++i)
                  burst += MakeFrame(5, i, 100 + i);
              const auto end = std::chrono::steady_clock::now() + kLimit;
              while (std::chrono::steady_clock::now() < end) {
                  if (!peer.Write(burst)) {
                      closedByClient_ = true;
                      return;
                  }
              }
          })
    {}
    ~Flood() { Join(); }
    // True when the client closed the connection.
    bool Join()
    {
        if (thread_.joinable())
            thread_.join();
        return closedByClient_;
    }

private:
    bool closedByClient_ = false;
    std::thread thread_;
};

// Lets the loop run everything already queued for it, twice over.
void DrainLoop()
{
    for (int i = 0; i < 2; ++i)
        RunOnLoop([] {});
}

TEST(Close, InsideOnRecvDataDuringAFloodStopsEveryCallback)
{
    Listener listener;
    FrameClient client;
    client.onFrame = [](FrameClient& self, std::size_t index) {
        if (index == 99) {
            self.Close();
            self.MarkClosed();
        }
    };
    std::unique_ptr<PeerConn> peer = Connected(client, listener);
    ASSERT_TRUE(peer);
    {
        Flood flood(*peer);
        ASSERT_TRUE(client.WaitFrames(100));
        EXPECT_TRUE(flood.Join());
        peer->Close();
    }
    DrainLoop();
    EXPECT_EQ(client.FrameCount(), 100u);
    EXPECT_EQ(client.LateCallbacks(), 0);
    EXPECT_EQ(client.Events().size(), 1u); // OnConnectOk only: no OnDisConnect
    EXPECT_EQ(client.OrderErrors(), 0);
}

TEST(Close, FromAnotherThreadDuringAFloodLeavesNoCallbackInFlight)
{
    for (int round = 0; round < 5; ++round) {
        Listener listener;
        FrameClient client;
        std::unique_ptr<PeerConn> peer = Connected(client, listener);
        ASSERT_TRUE(peer);
        {
            Flood flood(*peer);
            ASSERT_TRUE(client.WaitFrames(50));
            client.Close();
            client.MarkClosed();
            EXPECT_TRUE(flood.Join());
            peer->Close();
        }
        DrainLoop();
        EXPECT_EQ(client.LateCallbacks(), 0);
        EXPECT_EQ(client.Events().size(), 1u);
        EXPECT_EQ(client.OrderErrors(), 0);
        for (const std::string& frame : client.Frames())
            EXPECT_TRUE(FrameIsWhole(frame));
    }
}

TEST(Close, DestroyingAConnectedHandlerClosesIt)
{
    Listener listener;
    auto client = std::make_unique<FrameClient>();
    std::unique_ptr<PeerConn> peer = Connected(*client, listener);
    ASSERT_TRUE(peer);
    Flood flood(*peer);
    ASSERT_TRUE(client->WaitFrames(10));
    client.reset();
    EXPECT_TRUE(flood.Join());
    peer->Close();
}

TEST(Close, ConnectAfterCloseStartsWithFreshReceiveState)
{
    Listener listener;
    FrameClient client;
    std::unique_ptr<PeerConn> first = Connected(client, listener);
    ASSERT_TRUE(first);
    // A whole frame, then a header and half of its body.
    const std::string whole = MakeFrame(1, 1, 40);
    const std::string cut = MakeFrame(1, 2, 400);
    ASSERT_TRUE(first->Write(whole + cut.substr(0, 24 + 200)));
    ASSERT_TRUE(client.WaitFrames(1));
    client.Close();

    ASSERT_EQ(client.Connect("127.0.0.1", listener.Port()), 0);
    std::unique_ptr<PeerConn> second = listener.Accept();
    ASSERT_TRUE(second);
    ASSERT_TRUE(client.WaitEvents(2));
    const std::string fresh = MakeFrame(2, 1, 30);
    ASSERT_TRUE(second->Write(fresh));
    ASSERT_TRUE(client.WaitFrames(2));
    const std::vector<std::string> frames = client.Frames();
    EXPECT_EQ(frames[0], whole);
    EXPECT_EQ(frames[1], fresh);
    const std::vector<ClientEvent> events = client.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, ClientEvent::ConnectOk);
}

TEST(Close, ConnectOnALiveConnectionClosesItSilently)
{
    Listener listener;
    FrameClient client;
    std::unique_ptr<PeerConn> first = Connected(client, listener);
    ASSERT_TRUE(first);
    ASSERT_EQ(client.Connect("127.0.0.1", listener.Port()), 0);
    std::unique_ptr<PeerConn> second = listener.Accept();
    ASSERT_TRUE(second);
    EXPECT_TRUE(first->WaitClosed());
    ASSERT_TRUE(client.WaitEvents(2));
    DrainLoop();
    const std::vector<ClientEvent> events = client.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, ClientEvent::ConnectOk);
    EXPECT_EQ(events[1].kind, ClientEvent::ConnectOk);
}

} // namespace
} // namespace kelvotest
