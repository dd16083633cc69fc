// The receive path against a real loopback peer: frames cut at every chunk
// size arrive whole, frames larger than one read chunk arrive whole, a
// handler that asks for more than is ready gets it once it is there, and a
// frame that can never fit ends the link.
#include "FrameClient.h"
#include "Peer.h"
#include "PlatformErrors.h"
#include "TestFrames.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace kelvotest {
namespace {

enum class Chunking { OneByte, Random, Burst };

struct RecvCase {
    Chunking chunking;
    bool eager;
};

std::string Name(const testing::TestParamInfo<RecvCase>& info)
{
    const char* chunking[] = {"OneByte", "RandomChunks", "OneBurst"};
    return std::string(chunking[static_cast<int>(info.param.chunking)]) +
        (info.param.eager ? "_Eager" : "_Exact");
}

bool WriteChunked(PeerConn& peer, const std::string& stream, Chunking chunking, unsigned seed)
{
    if (chunking == Chunking::Burst)
        return peer.Write(stream);
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> size(1, 97);
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min(stream.size() - at, chunking == Chunking::OneByte ? 1 : size(random));
        if (!peer.Write(stream.substr(at, n)))
            return false;
        at += n;
    }
    return true;
}

class RecvFraming : public testing::TestWithParam<RecvCase> {};

TEST_P(RecvFraming, FramesArriveWholeAtEveryChunking)
{
    // Lengths around the header size and a few larger bodies.
    const std::uint32_t lengths[] = {0, 1, 23, 24, 25, 47, 0, 300, 1000, 2};
    std::vector<std::string> sent;
    std::string stream;
    for (std::uint32_t i = 0; i < 40; ++i) {
        sent.push_back(MakeFrame(7, i, lengths[i % 10]));
        stream += sent.back();
    }
    Listener listener;
    FrameClient client(GetParam().eager);
    std::unique_ptr<PeerConn> peer = Connected(client, listener);
    ASSERT_TRUE(peer);

    ASSERT_TRUE(WriteChunked(*peer, stream, GetParam().chunking, 12345));
    ASSERT_TRUE(client.WaitFrames(sent.size()));
    EXPECT_EQ(client.Frames(), sent);
    EXPECT_EQ(client.OrderErrors(), 0);
}

TEST_P(RecvFraming, FramesLargerThanOneReadChunkArriveWhole)
{
    const std::uint32_t lengths[] = {300 * 1024, 5, 1024 * 1024, 0, 1024 * 1024, 70 * 1024};
    std::vector<std::string> sent;
    std::string stream;
    for (std::uint32_t i = 0; i < 6; ++i) {
        sent.push_back(MakeFrame(3, i, lengths[i]));
        stream += sent.back();
    }
    Listener listener;
    FrameClient client(GetParam().eager);
    std::unique_ptr<PeerConn> peer = Connected(client, listener);
    ASSERT_TRUE(peer);

    // One byte at a time would take long for 2.4 MB; chunks of random size
    // still cut every frame at odd places.
    const Chunking chunking =
        GetParam().chunking == Chunking::OneByte ? Chunking::Random : GetParam().chunking;
    std::thread writer([&] { WriteChunked(*peer, stream, chunking, 777); });
    const bool arrived = client.WaitFrames(sent.size());
    writer.join();
    ASSERT_TRUE(arrived);
    const std::vector<std::string> frames = client.Frames();
    ASSERT_EQ(frames.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_TRUE(FrameIsWhole(frames[i])) << "frame " << i;
        EXPECT_TRUE(frames[i] == sent[i]) << "frame " << i;
    }
    EXPECT_EQ(client.OrderErrors(), 0);
    EXPECT_TRUE(client.Events().size() == 1);
}

// More links than the low-latency loop reads itself (it reads four, the
// rest wait through the reactor): each gets its own frames, whole and in
// order, however the links are shared out.
TEST(RecvLinks, SixLinksAtOnceEachGetsItsOwnFrames)
{
    constexpr int Links = 6;
    Listener listener;
    std::vector<std::unique_ptr<FrameClient>> clients;
    std::vector<std::unique_ptr<PeerConn>> peers;
    for (int k = 0; k < Links; ++k) {
        clients.push_back(std::make_unique<FrameClient>(k % 2 == 0));
        peers.push_back(Connected(*clients.back(), listener));
        ASSERT_TRUE(peers.back()) << "link " << k;
    }
    std::vector<std::vector<std::string>> sent(Links);
    for (std::uint32_t i = 0; i < 30; ++i)
        for (int k = 0; k < Links; ++k) {
            sent[static_cast<std::size_t>(k)].push_back(
                MakeFrame(static_cast<std::uint32_t>(k), i, 10 * i % 97));
            ASSERT_TRUE(peers[static_cast<std::size_t>(k)]->Write(sent[static_cast<std::size_t>(k)].back()));
        }
    for (int k = 0; k < Links; ++k) {
        FrameClient& c = *clients[static_cast<std::size_t>(k)];
        ASSERT_TRUE(c.WaitFrames(sent[static_cast<std::size_t>(k)].size())) << "link " << k;
        EXPECT_EQ(c.Frames(), sent[static_cast<std::size_t>(k)]) << "link " << k;
        EXPECT_EQ(c.OrderErrors(), 0) << "link " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Chunkings, RecvFraming,
                         testing::Values(RecvCase{Chunking::OneByte, false},
                                         RecvCase{Chunking::OneByte, true}, RecvCase{Chunking::Random, false},
                                         RecvCase{Chunking::Random, true}, RecvCase{Chunking::Burst, false},
                                         RecvCase{Chunking::Burst, true}),
                         Name);

TEST(RecvLimits, AFrameThatCanNeverFitEndsTheLinkWithMessageSize)
{
    Listener listener;
    FrameClient client;
    std::unique_ptr<PeerConn> peer = Connected(client, listener);
    ASSERT_TRUE(peer);
    // The handler waits for the whole 2 MiB body, more than the buffer holds.
    const std::string frame = MakeFrame(1, 1, 2 * 1024 * 1024);
    std::thread writer([&] { peer->Write(frame); });
    const bool lost = client.WaitEvents(2);
    peer->Close(); // unblocks the writer if the link is still up
    writer.join();
    ASSERT_TRUE(lost);
    const std::vector<ClientEvent> events = client.Events();
    EXPECT_EQ(events[1].kind, ClientEvent::Disconnected);
    EXPECT_EQ(events[1].reason, kMessageSize);
    EXPECT_EQ(client.FrameCount(), 0u);
}

TEST(RecvLimits, AHeaderOnlyStreamNeedsNoBodyRequest)
{
    Listener listener;
    FrameClient client(true);
    std::unique_ptr<PeerConn> peer = Connected(client, listener);
    ASSERT_TRUE(peer);
    std::string stream;
    std::vector<std::string> sent;
    for (std::uint32_t i = 0; i < 1000; ++i) {
        sent.push_back(MakeFrame(9, i, 0));
        stream += sent.back();
    }
    ASSERT_TRUE(peer->Write(stream));
    ASSERT_TRUE(client.WaitFrames(sent.size()));
    EXPECT_EQ(client.Frames(), sent);
    EXPECT_EQ(client.OrderErrors(), 0);
}

} // namespace
} // namespace kelvotest
