// Decoding the text form of depth records into the published record.
#include "TestSupport.h"

#include "wire/DepthText.h"

#include <map>

using namespace mdlink;

namespace {

using Record = CThostFtdcDepthMarketDataField;

// A record of count fields, empty but for the given ones.
std::string Text(const std::map<int, std::string>& fields, int count = 63)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i)
            text += '\x01';
        auto it = fields.find(i);
        if (it != fields.end())
            text += it->second;
    }
    return text;
}

Record Decode(const std::string& text, std::uint32_t marker = MarkerText)
{
    Record r;
    std::memset(&r, 0, sizeof r);
    DecodeDepthText(marker, text.data(), static_cast<std::uint32_t>(text.size()), r);
    return r;
}

// Every field filled with a distinct value.
std::map<int, std::string> FullFields()
{
    std::map<int, std::string> f;
    f[0] = "EXA";
    f[1] = "au2612";
    f[2] = "";
    for (int i = 3; i < 63; ++i)
        f[i] = std::to_string(i) + ".25";
    for (int i : {10, 16, 18, 20, 22, 24, 36, 38, 40, 42, 44, 58})
        f[i] = std::to_string(i * 100);
    f[55] = "09:30:15";
    f[60] = "20261207";
    return f;
}

TEST(DepthText, EveryFieldLandsInItsMember)
{
    const Record r = Decode(Text(FullFields()));
    EXPECT_STREQ(r.ExchangeID, "EXA");
    EXPECT_STREQ(r.ExchangeInstID, "au2612");
    EXPECT_EQ(r.LastPrice, 3.25);
    EXPECT_EQ(r.OpenPrice, 4.25);
    EXPECT_EQ(r.HighestPrice, 5.25);
    EXPECT_EQ(r.LowestPrice, 6.25);
    EXPECT_EQ(r.UpperLimitPrice, 7.25);
    EXPECT_EQ(r.LowerLimitPrice, 8.25);
    EXPECT_EQ(r.PreSettlementPrice, 9.25);
    EXPECT_EQ(r.Volume, 1000);
    const double bids[] = {r.BidPrice1, r.BidPrice2, r.BidPrice3, r.BidPrice4, r.BidPrice5};
    const int bidVolumes[] = {r.BidVolume1, r.BidVolume2, r.BidVolume3, r.BidVolume4, r.BidVolume5};
    const double asks[] = {r.AskPrice1, r.AskPrice2, r.AskPrice3, r.AskPrice4, r.AskPrice5};
    const int askVolumes[] = {r.AskVolume1, r.AskVolume2, r.AskVolume3, r.AskVolume4, r.AskVolume5};
    for (int level = 0; level < 5; ++level) {
        EXPECT_EQ(bids[level], 15 + 2 * level + 0.25);
        EXPECT_EQ(bidVolumes[level], (16 + 2 * level) * 100);
        EXPECT_EQ(asks[level], 35 + 2 * level + 0.25);
        EXPECT_EQ(askVolumes[level], (36 + 2 * level) * 100);
    }
    EXPECT_STREQ(r.UpdateTime, "09:30:15");
    EXPECT_EQ(r.PreClosePrice, 56.25);
    EXPECT_EQ(r.Turnover, 57.25);
    EXPECT_EQ(r.UpdateMillisec, 5800);
    EXPECT_EQ(r.OpenInterest, 59.25);
    EXPECT_STREQ(r.TradingDay, "20261207");
    EXPECT_EQ(r.AveragePrice, 61.25);
    EXPECT_EQ(r.SettlementPrice, 62.25);
}

TEST(DepthText, MembersTheTextNeverFillsStayZero)
{
    std::map<int, std::string> f = FullFields();
    for (int i = 63; i < 70; ++i)
        f[i] = "9";
    const Record r = Decode(Text(f, 70));
    EXPECT_EQ(r.PreOpenInterest, 0.0);
    EXPECT_EQ(r.ClosePrice, 0.0);
    EXPECT_EQ(r.PreDelta, 0.0);
    EXPECT_EQ(r.CurrDelta, 0.0);
    EXPECT_STREQ(r.ActionDay, "");
}

TEST(DepthText, UnusedFieldsDoNotAffectTheRecord)
{
    const Record plain = Decode(Text(FullFields(), 63));
    std::map<int, std::string> f = FullFields();
    for (int i : {11, 12, 13, 14, 25, 30, 34, 45, 50, 54})
        f[i] = "garbage\x02text";
    f[63] = "extra";
    f[64] = "more";
    const Record noisy = Decode(Text(f, 65));
    EXPECT_EQ(std::memcmp(&plain, &noisy, sizeof plain), 0);
}

TEST(DepthText, InstrumentIdRulesApplyInOrder)
{
    struct Case {
        std::uint32_t marker;
        const char* f0;
        const char* f1;
        const char* f2;
        const char* id;
    };
    const Case cases[] = {
        {MarkerTextJoined, "EX", "AB12", "Z9", "EX AB12 Z9"},
        {MarkerTextJoined, "EX", "AB12", "", "EX AB12 "},
        {MarkerText, "EX", "AB12", "Z9", "Z9"},
        {MarkerText, "ex", "EXab12", "", "EXab12"},
        {MarkerText, "ex", "AB12", "", "ex AB12"},
        {MarkerText, "", "AB12", "", "AB12"},
        {MarkerText, "abc", "ab", "", "abc ab"},
    };
    for (const Case& c : cases) {
        const Record r = Decode(Text({{0, c.f0}, {1, c.f1}, {2, c.f2}}), c.marker);
        EXPECT_STREQ(r.InstrumentID, c.id) << c.f0 << "/" << c.f1 << "/" << c.f2;
        EXPECT_STREQ(r.ExchangeID, c.f0);
        EXPECT_STREQ(r.ExchangeInstID, c.f1) << "field 1, whichever rule formed the id";
    }
}

TEST(DepthText, TextsAreCutToTheirMembers)
{
    const std::string twelve = "ABCDEFGHIJKL";
    const std::string forty(40, 'x');
    Record r = Decode(Text({{0, twelve}, {1, forty}, {55, "09:30:15.500"}, {60, "2026120799"}}));
    EXPECT_STREQ(r.ExchangeID, "ABCDEFGH");
    EXPECT_EQ(std::string(r.ExchangeInstID), std::string(30, 'x'));
    EXPECT_EQ(std::string(r.InstrumentID), std::string("ABCDEFGHIJKL ") + std::string(17, 'x'));
    EXPECT_STREQ(r.UpdateTime, "09:30:15");
    EXPECT_STREQ(r.TradingDay, "20261207");

    r = Decode(Text({{0, "EX"}, {1, "A"}, {2, forty}}), MarkerTextJoined);
    EXPECT_EQ(std::string(r.InstrumentID), "EX A " + std::string(25, 'x'));
    EXPECT_STREQ(r.ExchangeID, "EX");
    EXPECT_STREQ(r.ExchangeInstID, "A");
}

TEST(DepthText, OptionalFieldsCountOnlyWhenPresent)
{
    const std::map<int, std::string> f = FullFields();
    Record r = Decode(Text(f, 59));
    EXPECT_EQ(r.UpdateMillisec, 5800);
    EXPECT_EQ(r.OpenInterest, 0.0);
    EXPECT_STREQ(r.TradingDay, "");
    EXPECT_EQ(r.AveragePrice, 0.0);
    EXPECT_EQ(r.SettlementPrice, 0.0);
    r = Decode(Text(f, 60));
    EXPECT_EQ(r.OpenInterest, 59.25);
    EXPECT_STREQ(r.TradingDay, "");
    r = Decode(Text(f, 62));
    EXPECT_STREQ(r.TradingDay, "20261207");
    EXPECT_EQ(r.AveragePrice, 61.25);
    EXPECT_EQ(r.SettlementPrice, 0.0);
    r = Decode(Text(f, 63));
    EXPECT_EQ(r.SettlementPrice, 62.25);
}

TEST(DepthText, EmptyAndMissingFieldsLeaveZero)
{
    Record r = Decode(Text({{0, "EX"}, {1, "I1"}, {3, ""}, {10, ""}, {16, "7"}}));
    EXPECT_EQ(r.LastPrice, 0.0);
    EXPECT_EQ(r.Volume, 0);
    EXPECT_EQ(r.BidVolume1, 7);
    r = Decode(std::string("EX") + '\x01' + "I1" + '\x01' + '\x01' + "1.5"); // only four fields
    EXPECT_EQ(r.LastPrice, 1.5);
    EXPECT_EQ(r.OpenPrice, 0.0);
    EXPECT_STREQ(r.UpdateTime, "");
}

TEST(DepthText, NumbersAreReadAsDecimalText)
{
    const Record r = Decode(Text({{3, "-12.5e1"}, {4, "abc"}, {5, " +3.5"}, {10, "12x"}, {16, "-4"},
                                  {18, "99999999999"}}));
    EXPECT_EQ(r.LastPrice, -125.0);
    EXPECT_EQ(r.OpenPrice, 0.0);
    EXPECT_EQ(r.HighestPrice, 3.5);
    EXPECT_EQ(r.Volume, 12);
    EXPECT_EQ(r.BidVolume1, -4);
    EXPECT_EQ(r.BidVolume2, 2147483647) << "out of range saturates";
}

TEST(DepthText, AnUnknownMarkerGivesAnAllZeroRecord)
{
    const Record r = Decode(Text(FullFields()), 0x1234);
    const Record zero{};
    EXPECT_EQ(std::memcmp(&r, &zero, sizeof r), 0);
}

TEST(DepthText, TheBodyEndsAtItsLengthNotAtATerminator)
{
    const std::string text = Text(FullFields());
    const std::string withTail = text + "\x01" "999";
    Record r;
    std::memset(&r, 0, sizeof r);
    DecodeDepthText(MarkerText, withTail.data(), static_cast<std::uint32_t>(text.size()), r);
    const Record expected = Decode(text);
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);
}

// Through the client: a fresh zeroed record per text frame, freed after the call.
class DepthTextFrames : public test::ClientFixture {};

TEST_F(DepthTextFrames, EachTextFrameGetsItsOwnDecodedRecord)
{
    Start();
    std::map<int, std::string> f = FullFields();
    fake::Feed(conn, test::Frame(MsgDepthMarketData, Text(f), 0, 0, MarkerText));
    f.erase(3);
    f[2] = "au2612";
    fake::Feed(conn, test::Frame(MsgDepthMarketData, Text(f, 59), 0, 0, MarkerTextJoined));
    ASSERT_EQ(spi.events.size(), 2u);
    EXPECT_EQ(spi.events[0].depth.LastPrice, 3.25);
    EXPECT_STREQ(spi.events[0].depth.InstrumentID, "EXA au2612");
    EXPECT_EQ(spi.events[1].depth.LastPrice, 0.0) << "nothing carried over from the first record";
    EXPECT_EQ(spi.events[1].depth.OpenInterest, 0.0);
    EXPECT_STREQ(spi.events[1].depth.InstrumentID, "EXA au2612 au2612");
}

} // namespace
