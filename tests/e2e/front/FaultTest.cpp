// Each injected fault, checked byte for byte on the wire.
#include "DepthText.h"
#include "FrontFixture.h"

#include <cstring>
#include <numeric>

namespace fronttest {
namespace {

using namespace mdlink;
using mdfront::SentFrame;
using mdfront::SentKind;

std::size_t TotalBytes(const std::vector<SentFrame>& sent)
{
    return std::accumulate(sent.begin(), sent.end(), std::size_t{0},
                           [](std::size_t n, const SentFrame& f) { return n + f.bytes.size(); });
}

Bytes Concat(const std::vector<SentFrame>& sent)
{
    Bytes out;
    for (const SentFrame& f : sent)
        out.insert(out.end(), f.bytes.begin(), f.bytes.end());
    return out;
}

class SilenceTest : public FrontFixture {
protected:
    // Once the front is silent: a heartbeat goes unanswered, and when the
    // link is closed the client has received exactly what was sent before.
    void ExpectSilentThenClose(FrontTestClient& client)
    {
        ASSERT_TRUE(front_->WaitForConnections(1, Patience));
        ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(0).silent; }));
        const auto before = front_->Stats(0).frames_suppressed;
        client.SendHeartBeat(99);
        ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(0).frames_suppressed > before; }));
        EXPECT_TRUE(front_->Stats(0).open);
        front_->CloseConnection(0);
        Bytes rest;
        ASSERT_TRUE(client.ReadToEof(rest));
        received_.insert(received_.end(), rest.begin(), rest.end());
        EXPECT_EQ(received_, Concat(front_->Connection(0).sent));
    }

    Bytes received_;
};

TEST_F(SilenceTest, SilentAfterFramesStopsAllSending)
{
    auto cfg = BaseConfig();
    cfg.faults.silent_after_frames = 2; // the login response and one subscription response
    StartFront(cfg);
    FrontTestClient client(port_);
    client.SendLogin(1, "alice", "x");
    client.SendList(MsgSubscribeMarketData, 3, "au2612|ag2612");
    ExpectSilentThenClose(client);
    const auto sent = front_->Connection(0).sent;
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].header.MsgType, MsgRspSubscribeMarketData);
    EXPECT_EQ(sent[1].header.IsLast, 0);
}

TEST_F(SilenceTest, SilentAfterTimeKeepsTheLinkOpen)
{
    auto cfg = BaseConfig();
    cfg.faults.silent_after_time = std::chrono::milliseconds(100);
    StartFront(cfg);
    FrontTestClient client(port_);
    // Nothing is sent before the silence, so the outcome does not depend on timing.
    ExpectSilentThenClose(client);
    EXPECT_TRUE(received_.empty());
}

TEST_F(SilenceTest, TestCanSilenceOneConnection)
{
    StartFront(BaseConfig());
    FrontTestClient client(port_);
    ASSERT_TRUE(front_->WaitForConnections(1, Patience));
    front_->Silence(0);
    ExpectSilentThenClose(client);
    EXPECT_TRUE(front_->Connection(0).sent.empty());
}

class CloseTest : public FrontFixture {};

TEST_F(CloseTest, CloseAfterFramesEndsTheLinkAfterExactlyThoseFrames)
{
    auto cfg = BaseConfig();
    cfg.faults.close_after_frames = 3;
    StartFront(cfg);
    FrontTestClient client(port_);
    client.SendLogin(1, "alice", "x");
    client.SendList(MsgSubscribeMarketData, 3, "au2612|ag2612");
    Bytes all;
    ASSERT_TRUE(client.ReadToEof(all));
    const auto sent = front_->Connection(0).sent;
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(all, Concat(sent));
    EXPECT_EQ(all.size(), 24 + 248 + 2 * (24 + 119u));
    EXPECT_FALSE(front_->Stats(0).open);
    EXPECT_EQ(front_->Stats(0).close_reason, "close-after-frames fault");
}

TEST_F(CloseTest, CloseMidBodyCutsTheNextBodyInHalf)
{
    auto cfg = BaseConfig();
    cfg.faults.close_mid_body_after_frames = 1;
    StartFront(cfg);
    FrontTestClient client(port_);
    client.SendLogin(1, "alice", "x");
    client.SendList(MsgSubscribeMarketData, 3, "au2612");
    Bytes all;
    ASSERT_TRUE(client.ReadToEof(all));
    ASSERT_EQ(all.size(), 24 + 248 + 24 + 119 / 2u);
    const FrameHeader cut = DecodeHeader(all.data() + 24 + 248);
    EXPECT_EQ(cut.MsgType, MsgRspSubscribeMarketData);
    EXPECT_EQ(cut.BodyLength, 119u);
    const auto sent = front_->Connection(0).sent;
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].kind, SentKind::PartialFrame);
}

TEST_F(CloseTest, OversizedRequestClosesTheLink)
{
    StartFront(BaseConfig());
    FrontTestClient client(port_);
    mdlink::FrameHeader h;
    h.MsgType = MsgSubscribeMarketData;
    h.BodyLength = 2u << 20;
    Bytes head(FrameHeaderSize);
    EncodeHeader(h, head.data());
    client.Send(head);
    Bytes all;
    ASSERT_TRUE(client.ReadToEof(all));
    EXPECT_TRUE(all.empty());
    ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return !front_->Stats(0).open; }));
}

class StreamFaultTest : public FrontFixture {};

TEST_F(StreamFaultTest, GarbageFollowsTheLoginResponse)
{
    auto cfg = BaseConfig();
    cfg.faults.garbage_after_login = 100;
    StartFront(cfg);
    auto client = LoggedInClient();
    Bytes garbage;
    ASSERT_TRUE(client->ReadExactly(100, garbage));
    const auto sent = front_->Connection(0).sent;
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].kind, SentKind::Garbage);
    EXPECT_EQ(sent[1].bytes, garbage);
    client->SendHeartBeat(8); // the front itself goes on
    auto hb = client->ReadFrame();
    ASSERT_TRUE(hb);
    EXPECT_EQ(hb->header.RequestId, 8);
}

TEST_F(StreamFaultTest, AnnouncedOversizedBodyIsFollowedBySilence)
{
    auto cfg = BaseConfig();
    cfg.faults.announce_body_length = 2u << 20;
    StartFront(cfg);
    auto client = LoggedInClient();
    Bytes head;
    ASSERT_TRUE(client->ReadExactly(FrameHeaderSize, head));
    const FrameHeader h = DecodeHeader(head.data());
    EXPECT_EQ(h.MsgType, MsgDepthMarketData);
    EXPECT_EQ(h.BodyLength, 2u << 20);
    ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(0).silent; }));
    front_->CloseConnection(0);
    Bytes rest;
    ASSERT_TRUE(client->ReadToEof(rest));
    EXPECT_EQ(rest.size(), 4096u);
}

TEST_F(StreamFaultTest, BigBodyPadsTheFirstBinaryRecordOnly)
{
    auto cfg = BaseConfig();
    cfg.faults.big_body_length = 5000;
    StartFront(cfg);
    auto client = LoggedInClient();
    client->SendList(MsgSubscribeMarketData, 2, "au2612");
    auto first = client->ReadFrameOfType(MsgDepthMarketData);
    auto second = client->ReadFrameOfType(MsgDepthMarketData);
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->body.size(), 5000u);
    EXPECT_EQ(second->body.size(), 408u);
    const auto sent = front_->Connection(0).sent;
    const SentFrame* depth = nullptr;
    for (const SentFrame& f : sent)
        if (f.has_depth && !depth)
            depth = &f;
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(Bytes(first->body.begin(), first->body.begin() + 408),
              mdfront::RecordBytes(&depth->depth, 408));
    EXPECT_TRUE(
        std::all_of(first->body.begin() + 408, first->body.end(), [](unsigned char b) { return b == 0; }));
}

TEST_F(StreamFaultTest, BigBodyPadsTextBehindTheLastReadField)
{
    auto cfg = BaseConfig();
    cfg.form = mdfront::DepthForm::Text;
    cfg.faults.big_body_length = 900;
    StartFront(cfg);
    auto client = LoggedInClient();
    client->SendList(MsgSubscribeMarketData, 2, "au2612");
    auto first = client->ReadFrameOfType(MsgDepthMarketData);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->body.size(), 900u);
    const auto sent = front_->Connection(0).sent;
    auto it = std::find_if(sent.begin(), sent.end(), [](const SentFrame& f) { return f.has_depth; });
    ASSERT_NE(it, sent.end());
    const Bytes plain = mdfront::DepthTextBody(it->depth, mdfront::TextOptions{});
    ASSERT_LT(plain.size(), first->body.size());
    EXPECT_EQ(Bytes(first->body.begin(), first->body.begin() + static_cast<long>(plain.size())), plain);
    EXPECT_EQ(first->body[plain.size()], 0x01);
}

TEST_F(StreamFaultTest, TrickleWritesOneBytePerSend)
{
    auto cfg = BaseConfig();
    cfg.faults.trickle_delay = std::chrono::microseconds(200);
    StartFront(cfg);
    auto client = LoggedInClient();
    client->SendHeartBeat(6);
    auto hb = client->ReadFrame();
    ASSERT_TRUE(hb);
    EXPECT_EQ(hb->header.RequestId, 6);
    ASSERT_TRUE(
        front_->WaitUntil(Patience, [&] { return front_->Stats(0).bytes_written == 24 + 248 + 24u; }));
    EXPECT_EQ(front_->Stats(0).write_calls, front_->Stats(0).bytes_written);
}

TEST_F(StreamFaultTest, UnknownFramesFollowTheLoginResponse)
{
    auto cfg = BaseConfig();
    cfg.faults.unknown_frames = 5;
    cfg.faults.unknown_body_length = 1500;
    StartFront(cfg);
    auto client = LoggedInClient();
    const std::uint32_t known[] = {MsgRspSubscribeMarketData,
                                   MsgRspUnSubscribeMarketData,
                                   MsgRspUserLogin,
                                   MsgRspSubscribeForQuoteRsp,
                                   MsgRspUnSubscribeForQuoteRsp,
                                   MsgDepthMarketData,
                                   MsgForQuoteRsp};
    for (int i = 0; i < 5; ++i) {
        auto f = client->ReadFrame();
        ASSERT_TRUE(f);
        EXPECT_EQ(f->body.size(), 1500u);
        EXPECT_EQ(std::count(std::begin(known), std::end(known), f->header.MsgType), 0);
    }
    client->SendHeartBeat(2);
    auto hb = client->ReadFrame();
    ASSERT_TRUE(hb);
    EXPECT_EQ(hb->header.MsgType, MsgHeartBeat);
}

TEST_F(StreamFaultTest, ShortBodiesAreCutToTheirLengths)
{
    auto cfg = BaseConfig();
    cfg.faults.short_depth = 200;
    cfg.faults.short_instrument = 20;
    cfg.faults.short_forquote = 40;
    cfg.faults.short_login = 100;
    StartFront(cfg);
    FrontTestClient client(port_);
    client.SendLogin(1, "alice", "x");
    auto login = client.ReadFrame();
    ASSERT_TRUE(login);
    EXPECT_EQ(login->body.size(), 100u);
    client.SendList(MsgSubscribeMarketData, 2, "au2612");
    auto sub = client.ReadFrame();
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->body.size(), 20u);
    auto depth = client.ReadFrameOfType(MsgDepthMarketData);
    ASSERT_TRUE(depth);
    EXPECT_EQ(depth->body.size(), 200u);
    client.SendList(MsgSubscribeForQuoteRsp, 2, "au2612");
    auto quote = client.ReadFrameOfType(MsgForQuoteRsp);
    ASSERT_TRUE(quote);
    EXPECT_EQ(quote->body.size(), 40u);
}

TEST_F(StreamFaultTest, SendRawPutsTestBytesOnTheWire)
{
    StartFront(BaseConfig());
    FrontTestClient client(port_);
    ASSERT_TRUE(front_->WaitForConnections(1, Patience));
    const Bytes raw{1, 2, 3, 4, 5};
    front_->SendRaw(0, raw);
    Bytes got;
    ASSERT_TRUE(client.ReadExactly(raw.size(), got));
    EXPECT_EQ(got, raw);
    EXPECT_EQ(TotalBytes(front_->Connection(0).sent), raw.size());
}

} // namespace
} // namespace fronttest
