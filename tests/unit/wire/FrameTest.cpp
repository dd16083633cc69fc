// The frame header: golden bytes, and what a received header reads as.
#include "TestSupport.h"

using namespace mdlink;
using test::ClientFixture;

namespace {

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(FrameHeader, HeartBeatWithSequenceFiveAndTickHundred)
{
    FrameHeader h;
    h.Marker = MarkerBinary;
    h.MsgType = MsgHeartBeat;
    h.RequestId = 5;
    h.Tick = 100;
    unsigned char bytes[FrameHeaderSize];
    EncodeHeader(h, bytes);
    EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(bytes), sizeof bytes)),
              "44 FE 00 00 01 80 01 00 00 00 00 00 05 00 00 00 64 00 00 00 00 00 00 00");
}

TEST(FrameHeader, DecodeReadsOnlyTheFirstByteOfIsLastAndASignedRequestId)
{
    std::string raw = test::Frame(MsgRspSubscribeMarketData, "", -1, 0x100);
    FrameHeader h = DecodeHeader(reinterpret_cast<const unsigned char*>(raw.data()));
    EXPECT_EQ(h.MsgType, MsgRspSubscribeMarketData);
    EXPECT_EQ(h.RequestId, -1);
    EXPECT_EQ(h.IsLast, 0);
    raw = test::Frame(MsgRspSubscribeMarketData, "", 7, 1);
    EXPECT_EQ(DecodeHeader(reinterpret_cast<const unsigned char*>(raw.data())).IsLast, 1);
}

TEST(FrameHeader, RoundTripsEveryField)
{
    FrameHeader h;
    h.Marker = MarkerTextJoined;
    h.MsgType = MsgForQuoteRsp;
    h.BodyLength = 0x01020304;
    h.RequestId = -123456;
    h.Tick = 0xFFFFFFFE;
    h.IsLast = 1;
    unsigned char bytes[FrameHeaderSize];
    EncodeHeader(h, bytes);
    const FrameHeader back = DecodeHeader(bytes);
    EXPECT_EQ(back.Marker, h.Marker);
    EXPECT_EQ(back.MsgType, h.MsgType);
    EXPECT_EQ(back.BodyLength, h.BodyLength);
    EXPECT_EQ(back.RequestId, h.RequestId);
    EXPECT_EQ(back.Tick, h.Tick);
    EXPECT_EQ(back.IsLast, 1);
    EXPECT_EQ(bytes[21] | bytes[22] | bytes[23], 0);
}

class SentFrames : public ClientFixture {
protected:
    // Frames go out on an established link only.
    void SetUp() override
    {
        ClientFixture::SetUp();
        Start();
        world().Reset();
    }
};

TEST_F(SentFrames, SubscribeTwoIdsIsTheWorkedExampleByteForByte)
{
    world().now = 100;
    char a[] = "ab", c[] = "cd";
    char* ids[] = {a, c};
    ASSERT_EQ(api->SubscribeMarketData(ids, 2), 0);
    ASSERT_EQ(world().sent.size(), 1u);
#if defined(_WIN32)
    const char* marker = "44 FE 00 00";
#else
    const char* marker = "55 FE 00 00";
#endif
    EXPECT_EQ(Hex(world().sent[0].bytes),
              std::string(marker) +
                  " 01 00 05 00 05 00 00 00 03 00 00 00 64 00 00 00 00 00 00 00 61 62 7C 63 64");
}

TEST_F(SentFrames, LoginFramesCarryTheRecordUnchangedOrNothing)
{
    CThostFtdcReqUserLoginField req;
    std::memset(&req, 0x5A, sizeof req);
    ASSERT_EQ(api->ReqUserLogin(&req, 42), 0);
    ASSERT_EQ(api->ReqUserLogin(nullptr, 43), 0);
    ASSERT_EQ(world().sent.size(), 2u);
    EXPECT_EQ(world().sent[0].bytes.size(), 252u);
    EXPECT_EQ(test::SentBody(0), test::Bytes(req));
    EXPECT_EQ(test::SentHeader(0).BodyLength, 228u);
    EXPECT_EQ(test::SentHeader(0).RequestId, 42);
    EXPECT_EQ(test::SentHeader(0).MsgType, MsgUserLogin);
    EXPECT_EQ(test::SentHeader(0).Marker, MarkerRequest);
    EXPECT_EQ(world().sent[1].bytes.size(), 24u);
    EXPECT_EQ(test::SentHeader(1).BodyLength, 0u);
    EXPECT_EQ(test::SentHeader(1).MsgType, 0x00050003u);
    EXPECT_EQ(test::SentHeader(1).RequestId, 43);
}

TEST_F(SentFrames, RequestMarkersFollowTheBuild)
{
    char id[] = "x1";
    char* ids[] = {id};
    api->SubscribeMarketData(ids, 1);
    api->UnSubscribeMarketData(ids, 1);
    api->SubscribeForQuoteRsp(ids, 1);
    api->UnSubscribeForQuoteRsp(ids, 1);
    ASSERT_EQ(world().sent.size(), 4u);
#if defined(_WIN32)
    const std::uint32_t market = MarkerBinary;
#else
    const std::uint32_t market = MarkerText;
#endif
    EXPECT_EQ(test::SentHeader(0).Marker, market);
    EXPECT_EQ(test::SentHeader(1).Marker, market);
    EXPECT_EQ(test::SentHeader(2).Marker, MarkerBinary);
    EXPECT_EQ(test::SentHeader(3).Marker, MarkerBinary);
    EXPECT_EQ(test::SentHeader(0).MsgType, MsgSubscribeMarketData);
    EXPECT_EQ(test::SentHeader(1).MsgType, MsgUnSubscribeMarketData);
    EXPECT_EQ(test::SentHeader(2).MsgType, MsgSubscribeForQuoteRsp);
    EXPECT_EQ(test::SentHeader(3).MsgType, MsgUnSubscribeForQuoteRsp);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(world().sent[i].bytes.substr(20, 4), std::string(4, '\0'));
}

} // namespace
