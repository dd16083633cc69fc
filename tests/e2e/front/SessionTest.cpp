// Logins, subscription responses and heartbeat replies, as seen on the wire.
#include "FrontErrors.h"
#include "FrontFixture.h"

#include <cstring>

namespace fronttest {
namespace {

using namespace mdlink;
using mdfront::InstrumentBodySize;
using mdfront::InstrumentRecordSize;
using mdfront::LoginBodySize;
using mdfront::LoginRecordSize;

class LoginTest : public FrontFixture {};

TEST_F(LoginTest, SuccessfulLoginAnswersWithRecordAndInfo)
{
    StartFront(BaseConfig());
    FrontTestClient client(port_);
    client.SendLogin(77, "alice", "secret", "4040");
    auto rsp = client.ReadFrame();
    ASSERT_TRUE(rsp);
    EXPECT_EQ(rsp->header.MsgType, MsgRspUserLogin);
    EXPECT_EQ(rsp->header.RequestId, 77);
    EXPECT_EQ(rsp->header.IsLast, 1);
    ASSERT_EQ(rsp->body.size(), LoginBodySize);
    CThostFtdcRspUserLoginField rec;
    std::memcpy(&rec, rsp->body.data(), sizeof rec);
    EXPECT_STREQ(rec.TradingDay, "20261208");
    EXPECT_STREQ(rec.BrokerID, "4040");
    EXPECT_STREQ(rec.UserID, "alice");
    EXPECT_EQ(rec.FrontID, 7);
    EXPECT_NE(rec.SessionID, 0);
    EXPECT_EQ(std::strlen(rec.LoginTime), 8u);
    EXPECT_STREQ(rec.SHFETime, rec.LoginTime);
    for (std::size_t i = sizeof rec; i < LoginRecordSize; ++i)
        EXPECT_EQ(rsp->body[i], 0) << "padding byte " << i;
    EXPECT_EQ(ErrorIdAt(rsp->body, LoginRecordSize), 0);
    EXPECT_EQ(ErrorTextAt(rsp->body, LoginRecordSize), "OK");

    ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(0).logged_in; }));
    EXPECT_EQ(front_->Stats(0).user, "alice");
}

TEST_F(LoginTest, LoginWithoutRecordIsAcceptedWhenAnyoneMayLogIn)
{
    StartFront(BaseConfig());
    FrontTestClient client(port_);
    client.SendFrame(MarkerText, MsgUserLogin, 3, Bytes());
    auto rsp = client.ReadFrame();
    ASSERT_TRUE(rsp);
    EXPECT_EQ(rsp->header.RequestId, 3);
    EXPECT_EQ(ErrorIdAt(rsp->body, LoginRecordSize), 0);
    EXPECT_EQ(TextAt(rsp->body, 29, 16), "");
}

TEST_F(LoginTest, WrongPasswordIsRefusedAndSubscriptionsFail)
{
    auto cfg = BaseConfig();
    cfg.user = "alice";
    cfg.password = "right";
    StartFront(cfg);
    FrontTestClient client(port_);
    client.SendLogin(5, "alice", "wrong");
    auto rsp = client.ReadFrame();
    ASSERT_TRUE(rsp);
    EXPECT_EQ(ErrorIdAt(rsp->body, LoginRecordSize), mdfront::ErrBadCredentials);
    EXPECT_EQ(ErrorTextAt(rsp->body, LoginRecordSize), mdfront::TextBadCredentials);

    client.SendList(MsgSubscribeMarketData, 2, "au2612");
    auto sub = client.ReadFrame();
    ASSERT_TRUE(sub);
    EXPECT_EQ(ErrorIdAt(sub->body, InstrumentRecordSize), mdfront::ErrNotLoggedIn);
    // No depth data may follow: the next frame answers this heartbeat.
    client.SendHeartBeat(9);
    auto hb = client.ReadFrame();
    ASSERT_TRUE(hb);
    EXPECT_EQ(hb->header.MsgType, MsgHeartBeat);
    EXPECT_FALSE(front_->Stats(0).logged_in);
}

TEST_F(LoginTest, RightCredentialsAreAccepted)
{
    auto cfg = BaseConfig();
    cfg.user = "alice";
    cfg.password = "right";
    StartFront(cfg);
    FrontTestClient client(port_);
    client.SendLogin(5, "alice", "right");
    auto rsp = client.ReadFrame();
    ASSERT_TRUE(rsp);
    EXPECT_EQ(ErrorIdAt(rsp->body, LoginRecordSize), 0);
}

TEST_F(LoginTest, RefuseLoginsFaultRefusesEveryone)
{
    auto cfg = BaseConfig();
    cfg.faults.refuse_logins = true;
    StartFront(cfg);
    FrontTestClient client(port_);
    client.SendLogin(5, "alice", "secret");
    auto rsp = client.ReadFrame();
    ASSERT_TRUE(rsp);
    EXPECT_EQ(ErrorIdAt(rsp->body, LoginRecordSize), mdfront::ErrLoginRefused);
    EXPECT_EQ(ErrorTextAt(rsp->body, LoginRecordSize), mdfront::TextLoginRefused);
}

class SubscriptionTest : public FrontFixture {};

struct ListCase {
    std::uint32_t request;
    std::uint32_t response;
};

TEST_F(SubscriptionTest, OneResponsePerIdWithLastFlagOnTheFramesLastId)
{
    auto cfg = BaseConfig();
    cfg.rate = 0.001; // one record right after subscribing, then quiet
    StartFront(cfg);
    auto client = LoggedInClient();
    const ListCase cases[] = {
        {MsgSubscribeMarketData, MsgRspSubscribeMarketData},
        {MsgUnSubscribeMarketData, MsgRspUnSubscribeMarketData},
        {MsgSubscribeForQuoteRsp, MsgRspSubscribeForQuoteRsp},
        {MsgUnSubscribeForQuoteRsp, MsgRspUnSubscribeForQuoteRsp},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.request);
        client->SendList(c.request, 4, "au2612|nosuch|ag2612");
        const char* ids[] = {"au2612", "nosuch", "ag2612"};
        for (int i = 0; i < 3; ++i) {
            auto rsp = client->ReadFrameOfType(c.response);
            ASSERT_TRUE(rsp);
            EXPECT_EQ(rsp->header.RequestId, 4);
            EXPECT_EQ(rsp->header.IsLast, i == 2 ? 1 : 0);
            ASSERT_EQ(rsp->body.size(), InstrumentBodySize);
            EXPECT_EQ(TextAt(rsp->body, 0, InstrumentRecordSize), ids[i]);
            const int expected = i == 1 ? mdfront::ErrInstrumentNotFound : 0;
            EXPECT_EQ(ErrorIdAt(rsp->body, InstrumentRecordSize), expected);
        }
    }
}

TEST_F(SubscriptionTest, EachFrameOfARequestKeepsItsOwnRequestIdAndLastFlag)
{
    StartFront(BaseConfig());
    auto client = LoggedInClient();
    // As a client cuts a long request: the first frame carries n, the next n + 2.
    client->SendList(MsgSubscribeForQuoteRsp, 52, "au2612|ag2612");
    client->SendList(MsgSubscribeForQuoteRsp, 3, "IF2612");
    const std::int32_t rids[] = {52, 52, 3};
    const int last[] = {0, 1, 1};
    for (int i = 0; i < 3; ++i) {
        auto rsp = client->ReadFrameOfType(MsgRspSubscribeForQuoteRsp);
        ASSERT_TRUE(rsp);
        EXPECT_EQ(rsp->header.RequestId, rids[i]);
        EXPECT_EQ(rsp->header.IsLast, last[i]);
    }
    ASSERT_TRUE(
        front_->WaitUntil(Patience, [&] { return front_->Stats(0).forquote_subscribed.size() == 3; }));
}

TEST_F(SubscriptionTest, EmptyIdsAndOverlongIdsAreAnswered)
{
    auto cfg = BaseConfig();
    cfg.instruments.clear(); // any id is known
    cfg.rate = 0.001;
    StartFront(cfg);
    auto client = LoggedInClient();
    const std::string longId(600, 'x');
    client->SendList(MsgUnSubscribeMarketData, 1, "a||" + longId);
    const std::string expected[] = {"a", "", longId.substr(0, 30)};
    for (int i = 0; i < 3; ++i) {
        auto rsp = client->ReadFrame();
        ASSERT_TRUE(rsp);
        EXPECT_EQ(TextAt(rsp->body, 0, InstrumentRecordSize), expected[i]);
        const int error = i == 1 ? mdfront::ErrInstrumentNotFound : 0;
        EXPECT_EQ(ErrorIdAt(rsp->body, InstrumentRecordSize), error);
    }
}

TEST_F(SubscriptionTest, FrontRecordsSubscriptionsAndReceivedFrames)
{
    StartFront(BaseConfig());
    auto client = LoggedInClient();
    client->SendList(MsgSubscribeMarketData, 3, "au2612|ag2612");
    ASSERT_TRUE(client->ReadFrameOfType(MsgRspSubscribeMarketData));
    ASSERT_TRUE(front_->WaitUntil(Patience, [&] {
        return front_->Stats(0).subscribed == std::vector<std::string>{"au2612", "ag2612"};
    }));
    const auto rec = front_->Connection(0);
    ASSERT_GE(rec.received.size(), 2u);
    EXPECT_EQ(rec.received[0].header.MsgType, MsgUserLogin);
    EXPECT_EQ(rec.received[0].body, LoginBody("alice", "secret", "9999"));
    EXPECT_EQ(rec.received[1].header.RequestId, 3);
    EXPECT_EQ(rec.received[1].body, TextBytes("au2612|ag2612"));
}

class HeartBeatTest : public FrontFixture {};

TEST_F(HeartBeatTest, ReplyIsAHeaderRepeatingTheRequestId)
{
    StartFront(BaseConfig());
    FrontTestClient client(port_);
    for (std::int32_t rid : {5, 0, -1, 2147483647}) {
        client.SendHeartBeat(rid);
        Bytes reply;
        ASSERT_TRUE(client.ReadExactly(FrameHeaderSize, reply));
        const FrameHeader h = DecodeHeader(reply.data());
        EXPECT_EQ(h.Marker, MarkerBinary);
        EXPECT_EQ(h.MsgType, MsgHeartBeat);
        EXPECT_EQ(h.BodyLength, 0u);
        EXPECT_EQ(h.RequestId, rid);
        const Bytes expectedTail{0, 0, 0, 0};
        EXPECT_EQ(Bytes(reply.begin() + 20, reply.end()), expectedTail);
    }
    ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(0).heartbeats_received == 4; }));
}

TEST_F(HeartBeatTest, ClientsHaveTheirOwnState)
{
    StartFront(BaseConfig());
    auto a = LoggedInClient();
    auto b = LoggedInClient();
    a->SendList(MsgSubscribeMarketData, 2, "au2612");
    ASSERT_TRUE(a->ReadFrameOfType(MsgDepthMarketData));
    // b subscribed nothing: the answer to its heartbeat is its next frame.
    b->SendHeartBeat(11);
    auto hb = b->ReadFrame();
    ASSERT_TRUE(hb);
    EXPECT_EQ(hb->header.MsgType, MsgHeartBeat);
    EXPECT_EQ(hb->header.RequestId, 11);
    EXPECT_EQ(front_->ConnectionCount(), 2u);
    EXPECT_TRUE(front_->Stats(1).subscribed.empty());
}

TEST_F(HeartBeatTest, RestartedFrontServesOnItsOldPort)
{
    StartFront(BaseConfig());
    {
        auto first = LoggedInClient();
    }
    front_->Stop();
    front_->SetPort(port_);
    ASSERT_EQ(front_->Start(), port_);
    auto second = LoggedInClient();
    ASSERT_TRUE(front_->WaitForConnections(2, Patience));
    EXPECT_EQ(front_->Stats(0).close_reason.empty(), false);
    ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(1).logged_in; }));
}

} // namespace
} // namespace fronttest
