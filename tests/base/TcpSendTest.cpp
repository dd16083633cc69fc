// SendData: refused while not connected, and from several threads at once
// every frame arrives whole and in order per thread.
#include "FrameClient.h"
#include "Peer.h"
#include "TestFrames.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace kelvotest {
namespace {

Kelvo_String* NewFrame(std::uint32_t stream, std::uint32_t seq, std::uint32_t length)
{
    const std::string bytes = MakeFrame(stream, seq, length);
    auto* frame = new Kelvo_String();
    frame->memcpy(bytes.data(), static_cast<int>(bytes.size()));
    return frame;
}

TEST(SendData, RefusedWhileNotConnectedAndTheCallerKeepsTheFrame)
{
    FrameClient client;
    Kelvo_String* frame = NewFrame(1, 1, 10);
    Kelvo_String* const original = frame;
    EXPECT_EQ(client.SendData(frame), 0); // never connected
    EXPECT_EQ(frame, original);

    Listener listener;
    std::unique_ptr<PeerConn> peer = Connected(client, listener);
    ASSERT_TRUE(peer);
    client.Close();
    EXPECT_EQ(client.SendData(frame), 0); // closed
    EXPECT_EQ(frame, original);

    Kelvo_String* none = nullptr;
    EXPECT_EQ(client.SendData(none), 0);
    delete frame;
}

TEST(SendData, AcceptedFramesArriveAndThePointerIsTaken)
{
    Listener listener;
    FrameClient client;
    std::unique_ptr<PeerConn> peer = Connected(client, listener);
    ASSERT_TRUE(peer);

    Kelvo_String* frame = NewFrame(2, 5, 100);
    EXPECT_EQ(client.SendData(frame), 1);
    EXPECT_EQ(frame, nullptr);
    std::string got;
    ASSERT_TRUE(peer->ReadFrame(got));
    EXPECT_EQ(got, MakeFrame(2, 5, 100));
}

TEST(SendData, FramesFromSeveralThreadsArriveWholeAndInOrderPerThread)
{
    Listener listener;
    FrameClient client;
    std::unique_ptr<PeerConn> peer = Connected(client, listener);
    ASSERT_TRUE(peer);

    constexpr std::uint32_t kThreads = 4;
    constexpr std::uint32_t kFrames = 1500;
    std::vector<std::thread> senders;
    std::atomic<int> refused{0};
    for (std::uint32_t t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (std::uint32_t i = 0; i < kFrames; ++i) {
                Kelvo_String* frame = NewFrame(t, i, (i * 37 + t * 11) % 700);
                if (client.SendData(frame) != 1) {
                    ++refused;
                    delete frame;
                }
            }
        });
    }
    std::map<std::uint32_t, std::uint32_t> next;
    int broken = 0;
    int disorder = 0;
    for (std::uint32_t n = 0; n < kThreads * kFrames; ++n) {
        std::string frame;
        if (!peer->ReadFrame(frame)) {
            ADD_FAILURE() << "stream ended after " << n << " frames";
            break;
        }
        if (!FrameIsWhole(frame)) {
            ++broken;
            continue;
        }
        if (SeqOf(frame) != next[StreamOf(frame)]++)
            ++disorder;
    }
    for (std::thread& sender : senders)
        sender.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(broken, 0);
    EXPECT_EQ(disorder, 0);
    for (std::uint32_t t = 0; t < kThreads; ++t)
        EXPECT_EQ(next[t], kFrames) << "thread " << t;
}

TEST(SendData, SendingInsideOnConnectOkIsAccepted)
{
    Listener listener;
    FrameClient client;
    std::atomic<int> accepted{-1};
    client.onEvent = [&](FrameClient& self, const ClientEvent& event) {
        if (event.kind == ClientEvent::ConnectOk) {
            Kelvo_String* frame = NewFrame(4, 1, 8);
            accepted = self.SendData(frame);
            delete frame; // null when accepted
        }
        return 0;
    };
    ASSERT_EQ(client.Connect("127.0.0.1", listener.Port()), 0);
    std::unique_ptr<PeerConn> peer = listener.Accept();
    ASSERT_TRUE(peer);
    std::string got;
    ASSERT_TRUE(peer->ReadFrame(got));
    EXPECT_EQ(accepted.load(), 1);
    EXPECT_EQ(got, MakeFrame(4, 1, 8));
}

} // namespace
} // namespace kelvotest
