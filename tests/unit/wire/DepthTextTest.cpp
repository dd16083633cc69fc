// Decoding the text form of depth records into the published record.
#include "TestSupport.h"

#include "DepthTextOracle.h"
#include "wire/DepthText.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>

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
    const Record r = Decode(
        Text({{3, "-12.5e1"}, {4, "abc"}, {5, " +3.5"}, {10, "12x"}, {16, "-4"}, {18, "99999999999"}}));
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
    const std::string withTail = text +
        "\x01"
        "999";
    Record r;
    std::memset(&r, 0, sizeof r);
    DecodeDepthText(MarkerText, withTail.data(), static_cast<std::uint32_t>(text.size()), r);
    const Record expected = Decode(text);
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);
}

struct Body {
    std::string what;
    std::string text;
    std::uint32_t length; // may stop short of the text
};

std::uint64_t NextRandom(std::uint64_t& x)
{
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
}

// Field texts for the edges: numbers in every form the readers meet, texts
// near and past their members' widths, exchange prefixes in either case.
const char* const Pieces[] = {"",
                              "0",
                              "12",
                              "612.34",
                              "-3.5",
                              " +7",
                              "\t-8",
                              "  ",
                              "+",
                              "-",
                              "+-1",
                              "--7",
                              ".5",
                              "5.",
                              "1.2.3",
                              "1e5",
                              "-1E-3",
                              "1e400",
                              "-1e-400",
                              "inf",
                              "-nan",
                              "abc",
                              "12x",
                              "0x1F",
                              "007",
                              "99999999999",
                              "-2147483648",
                              "-2147483649",
                              "2147483648",
                              "9007199254740993",
                              "123456789012345678901234567890.5",
                              "0.000000000000000000000001",
                              "SHFE",
                              "shfe",
                              "SHFEau2612",
                              "au2612",
                              "ABCDEFGHI",
                              "12345678",
                              "x\x02y",
                              "\xff\xfe"};

std::vector<Body> Bodies()
{
    std::vector<Body> bodies;
    auto add = [&](const std::string& what, const std::string& text) {
        bodies.push_back({what, text, static_cast<std::uint32_t>(text.size())});
    };
    add("empty", "");
    add("one separator", "\x01");
    add("separators only", std::string(70, '\x01'));
    add("no separator", "SHFE");
    add("a trailing separator",
        "EX\x01"
        "I1\x01");
    const std::string full = Text(FullFields());
    for (int count = 0; count <= 70; ++count)
        add("fields: " + std::to_string(count), Text(FullFields(), count));
    for (std::size_t at : {0, 1, 3, 4, 15, 16, 17, 31, 32, 33, 100, 200})
        add("zero byte at " + std::to_string(at), full.substr(0, at) + '\0' + full.substr(at));
    add("zero byte past 63 fields",
        Text(FullFields(), 64) + '\0' +
            "\x01"
            "9");
    add("over a kibibyte",
        Text({{0, std::string(300, 'E')},
              {1, std::string(300, 'I')},
              {2, std::string(300, 'Z')},
              {55, std::string(300, 'T')}}));
    const std::string twelve = "ABCDEFGHIJKL";
    add("long texts",
        Text({{0, twelve}, {1, std::string(40, 'x')}, {55, "09:30:15.500"}, {60, "2026120799"}}));
    for (const char* piece : Pieces)
        for (int index : {0, 1, 2, 3, 10, 55, 58, 59, 60, 61, 62})
            add(std::string("piece '") + piece + "' as field " + std::to_string(index),
                Text({{0, "shfe"}, {1, "SHFEau"}, {index, piece}}, index + 1));
    // Random records from a fixed seed: any field count, any pieces, now and
    // then a zero byte or a length that stops inside the text.
    std::uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (int n = 0; n < 400; ++n) {
        const int count = static_cast<int>(NextRandom(seed) % 72);
        std::map<int, std::string> f;
        for (int i = 0; i < count; ++i)
            f[i] = Pieces[NextRandom(seed) % (sizeof Pieces / sizeof Pieces[0])];
        std::string text = Text(f, count);
        if (!text.empty() && NextRandom(seed) % 8 == 0)
            text[NextRandom(seed) % text.size()] = '\0';
        std::uint32_t length = static_cast<std::uint32_t>(text.size());
        if (length && NextRandom(seed) % 8 == 0)
            length = static_cast<std::uint32_t>(NextRandom(seed) % length);
        bodies.push_back({"random " + std::to_string(n), text, length});
    }
    return bodies;
}

TEST(DepthText, DecodesExactlyAsTheStringAndFieldArrayDecoding)
{
    const std::uint32_t markers[] = {MarkerText, MarkerTextJoined, MarkerBinary, 0x1234};
    for (const Body& body : Bodies())
        for (std::uint32_t marker : markers) {
            Record r;
            std::memset(&r, 0, sizeof r);
            DecodeDepthText(marker, body.text.data(), body.length, r);
            const Record expected = test::OracleDecode(marker, body.text, body.length);
            ASSERT_EQ(std::memcmp(&r, &expected, sizeof r), 0)
                << body.what << ", marker " << std::hex << marker;
        }
}

// Through the client: a record zeroed for each text frame, on no heap.
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

// Keeps the last record in fixed storage; allocates only when told to.
class StillSpi : public CThostFtdcMdSpi {
public:
    Record last{};
    int count = 0;
    bool allocate = false;
    std::unique_ptr<std::string> kept;

    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth) override
    {
        last = *depth;
        ++count;
        if (allocate)
            kept.reset(new std::string(depth->InstrumentID, sizeof depth->InstrumentID));
    }
};

TEST_F(DepthTextFrames, ATextRecordCostsNoHeapAllocation)
{
    Start();
    StillSpi still;
    api->RegisterSpi(&still);
    // The fake records the idle timer re-armed for every frame: room first.
    world().sets.reserve(1000);
    world().clears.reserve(1000);
    world().pending.reserve(1000);
    std::string body = Text(FullFields());
    for (std::uint32_t marker : {MarkerText, MarkerTextJoined}) {
        // A frame through the receive path leaves its header current; its
        // body is then handled again and again, as steady state.
        fake::Feed(conn, test::Frame(MsgDepthMarketData, body, 0, 0, marker));
        const int before = still.count;
        test::StartCountingAllocations();
        for (int i = 0; i < 100; ++i)
            client->HandleMsg(&body[0]);
        EXPECT_EQ(test::StopCountingAllocations(), 0) << std::hex << marker;
        EXPECT_EQ(still.count, before + 100);
        EXPECT_STREQ(still.last.ExchangeInstID, "au2612");
        EXPECT_EQ(still.last.LastPrice, 3.25);
    }
    // The count does see an allocation made on this path.
    still.allocate = true;
    test::StartCountingAllocations();
    client->HandleMsg(&body[0]);
    EXPECT_GE(test::StopCountingAllocations(), 1);
    api->RegisterSpi(&spi);
}

} // namespace
