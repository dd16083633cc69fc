// Frame building, the depth text form and the random walk, without sockets.
#include "DepthText.h"
#include "DepthWalk.h"
#include "FrameBuilder.h"
#include "LocalTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace toolstest {
namespace {

using namespace mdfront;
using Depth = CThostFtdcDepthMarketDataField;

// A record whose every member differs from the others.
Depth DistinctRecord()
{
    Depth d;
    std::memset(&d, 0, sizeof d);
    CopyText(d.TradingDay, 9, "20261208");
    CopyText(d.InstrumentID, 31, "au2612");
    CopyText(d.ExchangeID, 9, "SHFE");
    CopyText(d.ExchangeInstID, 31, "au2612x");
    CopyText(d.UpdateTime, 9, "10:11:12");
    CopyText(d.ActionDay, 9, "20261209");
    double* doubles[] = {&d.LastPrice,       &d.PreSettlementPrice, &d.PreClosePrice,   &d.PreOpenInterest,
                         &d.OpenPrice,       &d.HighestPrice,       &d.LowestPrice,     &d.Turnover,
                         &d.OpenInterest,    &d.ClosePrice,         &d.SettlementPrice, &d.UpperLimitPrice,
                         &d.LowerLimitPrice, &d.PreDelta,           &d.CurrDelta,       &d.BidPrice1,
                         &d.AskPrice1,       &d.BidPrice2,          &d.AskPrice2,       &d.BidPrice3,
                         &d.AskPrice3,       &d.BidPrice4,          &d.AskPrice4,       &d.BidPrice5,
                         &d.AskPrice5,       &d.AveragePrice};
    int* ints[] = {&d.Volume,     &d.UpdateMillisec, &d.BidVolume1, &d.AskVolume1,
                   &d.BidVolume2, &d.AskVolume2,     &d.BidVolume3, &d.AskVolume3,
                   &d.BidVolume4, &d.AskVolume4,     &d.BidVolume5, &d.AskVolume5};
    double v = 100.25;
    for (double* p : doubles)
        *p = (v += 1.5);
    int n = 7;
    for (int* p : ints)
        *p = (n += 3);
    return d;
}

std::vector<std::string> Fields(const Bytes& body)
{
    std::vector<std::string> f(1);
    for (unsigned char c : body)
        if (c == 0x01)
            f.emplace_back();
        else
            f.back().push_back(static_cast<char>(c));
    return f;
}

TEST(FrameBuilderTest, HeartBeatReplyHasTheKnownBytes)
{
    Bytes reply = HeartBeatReply(5);
    ASSERT_EQ(reply.size(), 24u);
    reply[16] = reply[17] = reply[18] = reply[19] = 0; // the tick varies
    const Bytes expected{0x44, 0xFE, 0, 0, 0x01, 0x80, 0x01, 0, 0, 0, 0, 0,
                         5,    0,    0, 0, 0,    0,    0,    0, 0, 0, 0, 0};
    EXPECT_EQ(reply, expected);
}

TEST(FrameBuilderTest, ResponseBodiesHaveTheirLayouts)
{
    CThostFtdcRspUserLoginField login;
    std::memset(&login, 0, sizeof login);
    CopyText(login.UserID, 16, "bob");
    login.FrontID = 3;
    const Bytes body = LoginResponseBody(login, MakeRspInfo(9, "nine"));
    ASSERT_EQ(body.size(), 248u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data() + 29)), "bob");
    EXPECT_EQ(body[88], 3);
    EXPECT_EQ(body[160], 9);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data() + 164)), "nine");

    const Bytes inst = InstrumentResponseBody(std::string(40, 'z'), MakeRspInfo(16, "x"));
    ASSERT_EQ(inst.size(), 119u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(inst.data())), std::string(30, 'z'));
    EXPECT_EQ(inst[30], 0);
    EXPECT_EQ(inst[31], 16);
}

TEST(FrameBuilderTest, InstrumentListsSplitAtEveryBar)
{
    const std::string text = "ab|cd||e";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    EXPECT_EQ(SplitInstrumentList(p, text.size()), (std::vector<std::string>{"ab", "cd", "", "e"}));
    EXPECT_EQ(SplitInstrumentList(p, 0), std::vector<std::string>{""});
    EXPECT_EQ(ResponseTypeOf(mdlink::MsgSubscribeForQuoteRsp), mdlink::MsgRspSubscribeForQuoteRsp);
    EXPECT_EQ(ResponseTypeOf(mdlink::MsgHeartBeat), 0u);
}

TEST(DepthTextTest, EveryMemberSitsAtItsIndex)
{
    const Depth d = DistinctRecord();
    TextOptions opt;
    const auto f = Fields(DepthTextBody(d, opt));
    ASSERT_EQ(f.size(), 63u);
    EXPECT_EQ(f[0], "SHFE");
    EXPECT_EQ(f[1], "au2612x");
    EXPECT_EQ(f[2], "au2612");
    const std::pair<int, double> doubles[] = {
        {3, d.LastPrice},       {4, d.OpenPrice},       {5, d.HighestPrice},       {6, d.LowestPrice},
        {7, d.UpperLimitPrice}, {8, d.LowerLimitPrice}, {9, d.PreSettlementPrice}, {15, d.BidPrice1},
        {17, d.BidPrice2},      {19, d.BidPrice3},      {21, d.BidPrice4},         {23, d.BidPrice5},
        {35, d.AskPrice1},      {37, d.AskPrice2},      {39, d.AskPrice3},         {41, d.AskPrice4},
        {43, d.AskPrice5},      {56, d.PreClosePrice},  {57, d.Turnover},          {59, d.OpenInterest},
        {61, d.AveragePrice},   {62, d.SettlementPrice}};
    for (const auto& [index, value] : doubles)
        EXPECT_EQ(std::stod(f[static_cast<std::size_t>(index)]), value) << "field " << index;
    const std::pair<int, int> ints[] = {{10, d.Volume},     {16, d.BidVolume1}, {18, d.BidVolume2},
                                        {20, d.BidVolume3}, {22, d.BidVolume4}, {24, d.BidVolume5},
                                        {36, d.AskVolume1}, {38, d.AskVolume2}, {40, d.AskVolume3},
                                        {42, d.AskVolume4}, {44, d.AskVolume5}, {58, d.UpdateMillisec}};
    for (const auto& [index, value] : ints)
        EXPECT_EQ(std::stoi(f[static_cast<std::size_t>(index)]), value) << "field " << index;
    EXPECT_EQ(f[55], "10:11:12");
    EXPECT_EQ(f[60], "20261208");
    // The members the form does not carry sit in unused fields.
    EXPECT_EQ(std::stod(f[11]), d.PreOpenInterest);
}

TEST(DepthTextTest, FieldCountAndPaddingShapeTheRecord)
{
    const Depth d = DistinctRecord();
    for (int count : {1, 59, 60, 63, 70}) {
        TextOptions opt;
        opt.field_count = count;
        EXPECT_EQ(Fields(DepthTextBody(d, opt)).size(), static_cast<std::size_t>(count));
    }
    TextOptions padded;
    padded.pad_to = 2000;
    const Bytes body = DepthTextBody(d, padded);
    EXPECT_EQ(body.size(), 2000u);
    const auto f = Fields(body);
    ASSERT_EQ(f.size(), 64u);
    EXPECT_EQ(f[3], Fields(DepthTextBody(d, TextOptions{}))[3]);
    EXPECT_EQ(ExpectedFromText(d, padded).LastPrice, d.LastPrice);
}

TEST(DepthTextTest, EmptyZerosLeaveFieldsEmpty)
{
    Depth d = DistinctRecord();
    d.LastPrice = 0;
    d.Volume = 0;
    TextOptions opt;
    opt.empty_zeros = true;
    const auto f = Fields(DepthTextBody(d, opt));
    EXPECT_EQ(f[3], "");
    EXPECT_EQ(f[10], "");
    EXPECT_NE(f[4], "");
}

TEST(DepthTextTest, InstrumentIdRules)
{
    EXPECT_EQ(JoinedInstrumentId(DepthForm::Joined, "EX", "AB12", "Z9"), "EX AB12 Z9");
    EXPECT_EQ(JoinedInstrumentId(DepthForm::Joined, "EX", "AB12", ""), "EX AB12 ");
    EXPECT_EQ(JoinedInstrumentId(DepthForm::Text, "EX", "AB12", "Z9"), "Z9");
    EXPECT_EQ(JoinedInstrumentId(DepthForm::Text, "ex", "EXab12", ""), "EXab12");
    EXPECT_EQ(JoinedInstrumentId(DepthForm::Text, "ex", "AB12", ""), "ex AB12");
    EXPECT_EQ(JoinedInstrumentId(DepthForm::Text, "", "AB12", ""), "AB12");
    EXPECT_EQ(JoinedInstrumentId(DepthForm::Text, "EXCH", "EX", ""), "EXCH EX");
}

TEST(DepthTextTest, ExpectedRecordKeepsOnlyWhatTheTextCarries)
{
    Depth d = DistinctRecord();
    CopyText(d.ExchangeID, 9, "ABCDEFGH");
    TextOptions opt;
    opt.field_count = 59;
    Depth e = ExpectedFromText(d, opt);
    EXPECT_STREQ(e.InstrumentID, "au2612");
    EXPECT_STREQ(e.ExchangeInstID, "au2612x");
    EXPECT_EQ(e.LastPrice, d.LastPrice);
    EXPECT_EQ(e.AskVolume5, d.AskVolume5);
    EXPECT_EQ(e.UpdateMillisec, d.UpdateMillisec);
    EXPECT_EQ(e.OpenInterest, 0.0);
    EXPECT_STREQ(e.TradingDay, "");
    for (double v :
         {e.PreOpenInterest, e.ClosePrice, e.PreDelta, e.CurrDelta, e.AveragePrice, e.SettlementPrice})
        EXPECT_EQ(v, 0.0);
    EXPECT_STREQ(e.ActionDay, "");

    opt.field_count = 60;
    e = ExpectedFromText(d, opt);
    EXPECT_EQ(e.OpenInterest, d.OpenInterest);
    EXPECT_STREQ(e.TradingDay, "");
    opt.field_count = 63;
    e = ExpectedFromText(d, opt);
    EXPECT_STREQ(e.TradingDay, "20261208");
    EXPECT_EQ(e.SettlementPrice, d.SettlementPrice);

    const Depth b = ExpectedFromBinary(d, 200);
    EXPECT_EQ(std::memcmp(&b, &d, 200), 0);
    EXPECT_EQ(b.BidPrice1, 0.0);
}

TEST(DepthWalkTest, RecordsAreConsistentAndReproducible)
{
    const InstrumentInfo instrument{"rb2610", "SHFE"};
    DepthWalk a(instrument, "20261208", 42);
    DepthWalk b(instrument, "20261208", 42);
    const mdtools::LocalStamp now = mdtools::NowLocal();
    int lastVolume = 0;
    for (int i = 0; i < 500; ++i) {
        const Depth d = a.Next(now);
        const Depth e = b.Next(now);
        ASSERT_EQ(std::memcmp(&d, &e, sizeof d), 0) << "step " << i;
        EXPECT_GE(d.Volume, lastVolume);
        lastVolume = d.Volume;
        EXPECT_LE(d.LastPrice, d.UpperLimitPrice);
        EXPECT_GE(d.LastPrice, d.LowerLimitPrice);
        EXPECT_LE(d.LowestPrice, d.LastPrice);
        EXPECT_GE(d.HighestPrice, d.LastPrice);
        EXPECT_LT(d.BidPrice1, d.AskPrice1);
        EXPECT_LT(d.BidPrice2, d.BidPrice1);
        EXPECT_GT(d.AskPrice5, d.AskPrice4);
        EXPECT_GT(d.BidVolume5, 0);
        EXPECT_STREQ(d.InstrumentID, "rb2610");
        // Prices are short decimals: whole hundredths.
        EXPECT_EQ(std::round(d.LastPrice * 100) / 100, d.LastPrice);
    }
    EXPECT_GT(lastVolume, 0);
}

} // namespace
} // namespace toolstest
