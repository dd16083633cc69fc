// Depth data and for-quote notices pushed for subscriptions, in each body form.
#include "DepthCsv.h"
#include "DepthText.h"
#include "FrontFixture.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace fronttest {
namespace {

using namespace mdlink;
using mdfront::DepthForm;
using mdfront::SentFrame;

std::vector<std::string> SplitFields(const Bytes& body)
{
    std::vector<std::string> fields(1);
    for (unsigned char c : body) {
        if (c == 0x01)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(c);
    }
    return fields;
}

// The depth frames the front recorded as sent on a connection, in order.
std::vector<SentFrame> SentDepth(const mdfront::FrontServer& front, std::size_t conn)
{
    std::vector<SentFrame> out;
    for (const SentFrame& f : front.Connection(conn).sent)
        if (f.has_depth)
            out.push_back(f);
    return out;
}

class DepthPushTest : public FrontFixture {
protected:
    // Logs in, subscribes au2612 and reads `count` depth frames.
    std::vector<Frame> Subscribe(int count)
    {
        client_ = LoggedInClient();
        client_->SendList(MsgSubscribeMarketData, 2, "au2612");
        std::vector<Frame> frames;
        for (int i = 0; i < count; ++i) {
            auto f = client_->ReadFrameOfType(MsgDepthMarketData);
            EXPECT_TRUE(f);
            if (!f)
                break;
            frames.push_back(*f);
        }
        return frames;
    }

    std::unique_ptr<FrontTestClient> client_;
};

TEST_F(DepthPushTest, BinaryBodiesAreTheRecordsTheFrontMeant)
{
    StartFront(BaseConfig());
    const auto frames = Subscribe(5);
    ASSERT_EQ(frames.size(), 5u);
    const auto sent = SentDepth(*front_, 0);
    ASSERT_GE(sent.size(), 5u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].header.Marker, MarkerBinary);
        ASSERT_EQ(frames[i].body.size(), sizeof(CThostFtdcDepthMarketDataField));
        EXPECT_EQ(frames[i].body, mdfront::RecordBytes(&sent[i].depth, sizeof sent[i].depth));
        CThostFtdcDepthMarketDataField d;
        std::memcpy(&d, frames[i].body.data(), sizeof d);
        EXPECT_STREQ(d.InstrumentID, "au2612");
        EXPECT_STREQ(d.ExchangeID, "SHFE");
        EXPECT_STREQ(d.TradingDay, "20261208");
        EXPECT_LT(d.BidPrice1, d.AskPrice1);
        EXPECT_LE(d.LastPrice, d.UpperLimitPrice);
        EXPECT_GE(d.LastPrice, d.LowerLimitPrice);
        EXPECT_EQ(std::strlen(d.UpdateTime), 8u);
    }
}

TEST_F(DepthPushTest, TextBodiesCarryEachMemberAtItsIndex)
{
    auto cfg = BaseConfig();
    cfg.form = DepthForm::Text;
    StartFront(cfg);
    const auto frames = Subscribe(3);
    ASSERT_EQ(frames.size(), 3u);
    const auto sent = SentDepth(*front_, 0);
    ASSERT_GE(sent.size(), 3u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].header.Marker, MarkerText);
        const auto fields = SplitFields(frames[i].body);
        ASSERT_EQ(fields.size(), 63u);
        const CThostFtdcDepthMarketDataField& d = sent[i].depth;
        EXPECT_EQ(fields[0], "SHFE");
        EXPECT_EQ(fields[1], "au2612");
        EXPECT_EQ(fields[2], "au2612");
        EXPECT_EQ(std::strtod(fields[3].c_str(), nullptr), d.LastPrice);
        EXPECT_EQ(std::atoi(fields[10].c_str()), d.Volume);
        EXPECT_EQ(std::strtod(fields[15].c_str(), nullptr), d.BidPrice1);
        EXPECT_EQ(std::strtod(fields[43].c_str(), nullptr), d.AskPrice5);
        EXPECT_EQ(fields[55], d.UpdateTime);
        EXPECT_EQ(std::atoi(fields[58].c_str()), d.UpdateMillisec);
        EXPECT_EQ(fields[60], "20261208");
    }
}

TEST_F(DepthPushTest, JoinedBodiesLeaveTheThirdFieldEmpty)
{
    auto cfg = BaseConfig();
    cfg.form = DepthForm::Joined;
    cfg.text_fields = 60;
    StartFront(cfg);
    const auto frames = Subscribe(2);
    ASSERT_EQ(frames.size(), 2u);
    for (const Frame& f : frames) {
        EXPECT_EQ(f.header.Marker, MarkerTextJoined);
        const auto fields = SplitFields(f.body);
        ASSERT_EQ(fields.size(), 60u);
        EXPECT_EQ(fields[0], "SHFE");
        EXPECT_EQ(fields[1], "au2612");
        EXPECT_EQ(fields[2], "");
    }
    const auto sent = SentDepth(*front_, 0);
    mdfront::TextOptions opt;
    opt.form = DepthForm::Joined;
    opt.field_count = 60;
    const auto expected = mdfront::ExpectedFromText(sent[0].depth, opt);
    EXPECT_STREQ(expected.InstrumentID, "SHFE au2612 ");
    EXPECT_EQ(expected.OpenInterest, sent[0].depth.OpenInterest);
    EXPECT_EQ(expected.AveragePrice, 0.0);
}

TEST_F(DepthPushTest, UnsubscribeStopsTheFlow)
{
    StartFront(BaseConfig());
    ASSERT_EQ(Subscribe(2).size(), 2u);
    client_->SendList(MsgUnSubscribeMarketData, 2, "au2612");
    ASSERT_TRUE(client_->ReadFrameOfType(MsgRspUnSubscribeMarketData));
    // Nothing is pushed after the response: the heartbeat reply comes next.
    client_->SendHeartBeat(21);
    auto next = client_->ReadFrame();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->header.MsgType, MsgHeartBeat);
    EXPECT_EQ(next->header.RequestId, 21);
}

TEST_F(DepthPushTest, RateZeroFloodsTheSocket)
{
    auto cfg = BaseConfig();
    cfg.rate = 0;
    cfg.record_limit = 10;
    StartFront(cfg);
    const auto frames = Subscribe(5000);
    EXPECT_EQ(frames.size(), 5000u);
    EXPECT_GE(front_->Stats(0).depth_sent, 5000u);
}

TEST_F(DepthPushTest, ReplayLoopsOverTheRecordedRows)
{
    CThostFtdcDepthMarketDataField rows[3];
    std::memset(rows, 0, sizeof rows);
    const char* ids[] = {"cu2611", "zn2611", "cu2611"};
    std::ofstream csv("recorded.csv");
    csv << mdtools::DepthCsvHeader() << "\n";
    for (int i = 0; i < 3; ++i) {
        mdfront::CopyText(rows[i].InstrumentID, 31, ids[i]);
        mdfront::CopyText(rows[i].ExchangeID, 9, "SHFE");
        rows[i].LastPrice = 70000 + i * 10;
        rows[i].Volume = 100 + i;
        csv << mdtools::DepthCsvRow(1000 + i, rows[i]) << "\n";
    }
    csv.close();
    auto cfg = BaseConfig();
    cfg.replay_file = (dir_ / "recorded.csv").string();
    StartFront(cfg);
    client_ = LoggedInClient();
    client_->SendList(MsgSubscribeMarketData, 2, "cu2611|au2612");
    auto ok = client_->ReadFrameOfType(MsgRspSubscribeMarketData);
    auto unknown = client_->ReadFrameOfType(MsgRspSubscribeMarketData);
    ASSERT_TRUE(ok && unknown);
    EXPECT_EQ(ErrorIdAt(ok->body, 31), 0);
    EXPECT_NE(ErrorIdAt(unknown->body, 31), 0); // not in the file
    const int order[] = {0, 2, 0, 2};
    for (int i : order) {
        auto f = client_->ReadFrameOfType(MsgDepthMarketData);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->body, mdfront::RecordBytes(&rows[i], sizeof rows[i]));
    }
}

TEST_F(DepthPushTest, BadReplayFileStopsTheStart)
{
    auto cfg = BaseConfig();
    cfg.replay_file = (dir_ / "missing.csv").string();
    mdfront::FrontServer front(cfg);
    EXPECT_THROW(front.Start(), std::runtime_error);
}

class ForQuoteTest : public FrontFixture {};

TEST_F(ForQuoteTest, NoticesFollowTheResponseAndRepeat)
{
    auto cfg = BaseConfig();
    cfg.forquote_interval = std::chrono::milliseconds(50);
    StartFront(cfg);
    auto client = LoggedInClient();
    client->SendList(MsgSubscribeForQuoteRsp, 2, "IF2612");
    auto rsp = client->ReadFrame();
    ASSERT_TRUE(rsp);
    EXPECT_EQ(rsp->header.MsgType, MsgRspSubscribeForQuoteRsp);
    std::string lastSysId;
    for (int i = 0; i < 3; ++i) {
        auto n = client->ReadFrame();
        ASSERT_TRUE(n);
        EXPECT_EQ(n->header.MsgType, MsgForQuoteRsp);
        ASSERT_EQ(n->body.size(), sizeof(CThostFtdcForQuoteRspField));
        CThostFtdcForQuoteRspField q;
        std::memcpy(&q, n->body.data(), sizeof q);
        EXPECT_STREQ(q.InstrumentID, "IF2612");
        EXPECT_STREQ(q.ExchangeID, "CFFEX");
        EXPECT_STREQ(q.TradingDay, "20261208");
        EXPECT_NE(lastSysId, q.ForQuoteSysID);
        lastSysId = q.ForQuoteSysID;
    }
    client->SendList(MsgUnSubscribeForQuoteRsp, 3, "IF2612");
    ASSERT_TRUE(client->ReadFrameOfType(MsgRspUnSubscribeForQuoteRsp));
    client->SendHeartBeat(4);
    auto next = client->ReadFrame();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->header.MsgType, MsgHeartBeat);
}

} // namespace
} // namespace fronttest
