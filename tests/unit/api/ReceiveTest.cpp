// The receive path: framing at every chunk boundary, dispatch by type, and
// the guards against short, long and unterminated bodies.
#include "TestSupport.h"

#include "link/HeartBeat.h"

#include <cstdio>

using namespace mdlink;
using test::Bytes;
using test::ClientFixture;
using test::Frame;
using test::Messages;
using test::RawHeader;

namespace {

CThostFtdcDepthMarketDataField Depth(const char* instrument, double price)
{
    CThostFtdcDepthMarketDataField d{};
    std::strncpy(d.InstrumentID, instrument, sizeof d.InstrumentID - 1);
    std::strcpy(d.TradingDay, "20261207");
    std::strcpy(d.UpdateTime, "09:30:01");
    d.LastPrice = price;
    d.Volume = 42;
    d.BidPrice1 = price - 1;
    d.AskVolume5 = 5;
    d.UpdateMillisec = 500;
    return d;
}

CThostFtdcForQuoteRspField Quote()
{
    CThostFtdcForQuoteRspField q{};
    std::strcpy(q.TradingDay, "20261207");
    std::strcpy(q.InstrumentID, "au2612");
    std::strcpy(q.ForQuoteSysID, "FQ1");
    std::strcpy(q.ForQuoteTime, "09:31:00");
    std::strcpy(q.ActionDay, "20261207");
    std::strcpy(q.ExchangeID, "EXA");
    return q;
}

std::string LoginBody(bool withInfo)
{
    CThostFtdcRspUserLoginField login{};
    std::strcpy(login.TradingDay, "20261207");
    std::strcpy(login.LoginTime, "09:00:00");
    std::strcpy(login.BrokerID, "9999");
    std::strcpy(login.UserID, "trader1");
    std::strcpy(login.SystemName, "FrontSim");
    login.FrontID = 3;
    login.SessionID = -77;
    std::strcpy(login.MaxOrderRef, "1");
    std::strcpy(login.INETime, "09:00:01");
    std::string body = Bytes(login) + std::string(4, '\x7F'); // bytes 156..159 are not read
    if (withInfo)
        body += Bytes(test::RspInfo(0, "ok"));
    return body;
}

// A recorded stream with one frame of every kind, back to back.
std::string MixedStream()
{
    const std::string info = Bytes(test::RspInfo(0, "front:ok"));
    std::string s;
    s += Frame(MsgRspUserLogin, LoginBody(true), 1, 1);
    s += Frame(MsgRspSubscribeMarketData, test::InstrumentBody("au2612") + info, 2, 0);
    s += Frame(MsgRspSubscribeMarketData, test::InstrumentBody("ag2612") + info, 2, 1);
    s += RawHeader(MsgHeartBeat, 0, -1);
    s += Frame(MsgDepthMarketData, Bytes(Depth("au2612", 500.5)));
    s += Frame(0x12345678, "ignored");
    s += Frame(MsgDepthMarketData, std::string("EXA") + '\x01' + "au2612" + '\x01' + '\x01' + "7.5", 0, 0,
               MarkerText);
    s += Frame(MsgForQuoteRsp, Bytes(Quote()));
    s += Frame(MsgRspUnSubscribeForQuoteRsp, test::InstrumentBody("cu2601"), 9, 1);
    s += Frame(MsgDepthMarketData, Bytes(Depth("ag2612", 6000)) + std::string(700, 'p'));
    return s;
}

// What the application saw, as comparable text.
std::vector<std::string> Summary(const test::RecordingSpi& spi)
{
    std::vector<std::string> out;
    for (const test::SpiEvent& e : spi.events) {
        char line[256];
        std::snprintf(line, sizeof line, "%s|%s|%d|%d|%d|%s|%s|%.2f|%d|%s|%s", e.kind.c_str(),
                      e.instrument.c_str(), e.requestId, e.isLast, e.hasInfo, e.info.ErrorMsg,
                      e.depth.InstrumentID, e.depth.LastPrice, e.login.SessionID, e.login.UserID,
                      e.quote.ForQuoteSysID);
        out.push_back(line);
    }
    return out;
}

class Receive : public ClientFixture {
protected:
    CHeartBeat* hb() { return client->GetSupervisor(); }
};

TEST_F(Receive, EveryChunkingGivesTheSameCallbacks)
{
    Start();
    const std::string stream = MixedStream();
    fake::Feed(conn, stream);
    const std::vector<std::string> whole = Summary(spi);
    ASSERT_EQ(whole.size(), 8u);
    EXPECT_EQ(fake::Unread(conn), 0u);

    for (std::size_t split = 1; split < stream.size(); ++split) {
        spi.events.clear();
        fake::Feed(conn, stream.substr(0, split));
        fake::Feed(conn, stream.substr(split));
        ASSERT_EQ(Summary(spi), whole) << "split at " << split;
    }
    for (std::size_t chunk : {1u, 2u, 7u, 23u, 24u, 25u, 409u}) {
        spi.events.clear();
        fake::FeedChunked(conn, stream, {chunk});
        ASSERT_EQ(Summary(spi), whole) << "chunks of " << chunk;
    }
}

TEST_F(Receive, AHeaderIsTakenOnlyWhenAll24BytesAreReady)
{
    Start();
    long size = 23;
    char* buffer = client->OnRecvBuffer(size);
    EXPECT_EQ(size, 0);
    EXPECT_NE(buffer, nullptr);
    size = 100;
    client->OnRecvBuffer(size);
    EXPECT_EQ(size, 24);
}

TEST_F(Receive, ABodyIsTakenWholeAndTheBytesBehindItWait)
{
    Start();
    const std::string body = test::InstrumentBody("au2612");
    const std::string frame = Frame(MsgRspSubscribeMarketData, body, 4, 1);
    fake::Feed(conn, frame.substr(0, frame.size() - 1));
    EXPECT_TRUE(spi.events.empty());
    EXPECT_EQ(fake::Unread(conn), body.size() - 1);
    fake::Feed(conn, frame.substr(frame.size() - 1) + frame.substr(0, 10));
    EXPECT_EQ(spi.Count("RspSubMarketData"), 1);
    EXPECT_EQ(fake::Unread(conn), 10u) << "the next header waits for its 24 bytes";
}

TEST_F(Receive, ZeroLengthFramesOfAnyTypeAreHeartbeatReplies)
{
    Start();
    const unsigned int idle = hb()->GetIdleTimerId();
    world().Reset();
    for (std::uint32_t type : {MsgRspSubscribeMarketData, MsgDepthMarketData, 0x1234u})
        fake::Feed(conn, RawHeader(type, 0, 5));
    EXPECT_TRUE(spi.events.empty());
    EXPECT_EQ(Messages(), std::vector<std::string>(3, "receive HeartBeat"));
    EXPECT_EQ(world().lines[0].text, "<app>[   KVMDApi][      DataOK] - receive HeartBeat");
    EXPECT_EQ(hb()->GetIdleTimerId(), idle) << "no activity re-arm for a reply";
    EXPECT_TRUE(world().sets.empty());
}

TEST_F(Receive, ResponseInformationOnlyAtTheExactLength)
{
    Start();
    const std::string instrument = test::InstrumentBody("au2612");
    const std::string info = Bytes(test::RspInfo(17, "bad instrument"));
    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, instrument + info, 1, 1));
    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, instrument, 1, 1));
    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, instrument + info + "x", 1, 1));
    fake::Feed(conn, Frame(MsgRspUserLogin, LoginBody(true), 1, 1));
    fake::Feed(conn, Frame(MsgRspUserLogin, LoginBody(false), 1, 1));
    fake::Feed(conn, Frame(MsgRspUserLogin, LoginBody(true) + "x", 1, 1));
    ASSERT_EQ(spi.events.size(), 6u);
    EXPECT_TRUE(spi.events[0].hasInfo);
    EXPECT_EQ(spi.events[0].info.ErrorID, 17);
    EXPECT_STREQ(spi.events[0].info.ErrorMsg, "bad instrument");
    EXPECT_FALSE(spi.events[1].hasInfo);
    EXPECT_FALSE(spi.events[2].hasInfo);
    EXPECT_TRUE(spi.events[3].hasInfo);
    EXPECT_FALSE(spi.events[4].hasInfo);
    EXPECT_FALSE(spi.events[5].hasInfo);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(spi.events[static_cast<std::size_t>(i)].instrument, "au2612");
    for (int i = 3; i < 6; ++i)
        EXPECT_STREQ(spi.events[static_cast<std::size_t>(i)].login.UserID, "trader1");
}

TEST_F(Receive, EachResponseTypeReachesItsCallbackWithIdAndLastFlag)
{
    Start();
    const std::string body = test::InstrumentBody("x1");
    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, body, 11, 1));
    fake::Feed(conn, Frame(MsgRspUnSubscribeMarketData, body, 12, 0x100));
    fake::Feed(conn, Frame(MsgRspSubscribeForQuoteRsp, body, -13, 0xFF));
    fake::Feed(conn, Frame(MsgRspUnSubscribeForQuoteRsp, body, 14, 0));
    EXPECT_EQ(spi.Kinds(),
              (std::vector<std::string>{"RspSubMarketData", "RspUnSubMarketData", "RspSubForQuoteRsp",
                                        "RspUnSubForQuoteRsp"}));
    EXPECT_EQ(spi.events[0].requestId, 11);
    EXPECT_TRUE(spi.events[0].isLast);
    EXPECT_EQ(spi.events[1].requestId, 12);
    EXPECT_FALSE(spi.events[1].isLast) << "only the low byte of IsLast counts";
    EXPECT_EQ(spi.events[2].requestId, -13);
    EXPECT_TRUE(spi.events[2].isLast);
    EXPECT_FALSE(spi.events[3].isLast);
}

TEST_F(Receive, LoginRecordIsACopyOfEveryMember)
{
    Start();
    fake::Feed(conn, Frame(MsgRspUserLogin, LoginBody(true), 8, 1));
    ASSERT_EQ(spi.events.size(), 1u);
    const CThostFtdcRspUserLoginField& login = spi.events[0].login;
    EXPECT_STREQ(login.TradingDay, "20261207");
    EXPECT_STREQ(login.LoginTime, "09:00:00");
    EXPECT_STREQ(login.BrokerID, "9999");
    EXPECT_STREQ(login.SystemName, "FrontSim");
    EXPECT_EQ(login.FrontID, 3);
    EXPECT_EQ(login.SessionID, -77);
    EXPECT_STREQ(login.MaxOrderRef, "1");
    EXPECT_STREQ(login.INETime, "09:00:01");
    EXPECT_EQ(spi.events[0].requestId, 8);
    EXPECT_TRUE(spi.events[0].isLast);
}

TEST_F(Receive, LoginTextsStayWithinTheirMembersAndZeroBehindTheTerminator)
{
    Start();
    std::string body(248, 'Z'); // no terminator anywhere
    fake::Feed(conn, Frame(MsgRspUserLogin, body, 1, 1));
    ASSERT_EQ(spi.events.size(), 1u);
    const CThostFtdcRspUserLoginField& login = spi.events[0].login;
    EXPECT_EQ(std::string(login.TradingDay), std::string(8, 'Z'));
    EXPECT_EQ(std::string(login.SystemName), std::string(40, 'Z'));
    EXPECT_EQ(std::string(login.INETime), std::string(8, 'Z'));
    EXPECT_EQ(std::string(spi.events[0].info.ErrorMsg), std::string(80, 'Z'));
    body = LoginBody(false);
    body[0] = 'A';
    body[1] = 0;
    body[2] = 'B'; // behind the terminator
    fake::Feed(conn, Frame(MsgRspUserLogin, body, 1, 1));
    const CThostFtdcRspUserLoginField& second = spi.events[1].login;
    EXPECT_EQ(std::string(second.TradingDay, sizeof second.TradingDay),
              std::string("A") + std::string(8, '\0'));
}

TEST_F(Receive, BinaryDepthIsHandedOnInPlace)
{
    Start();
    const CThostFtdcDepthMarketDataField sent = Depth("au2612", 512.25);
    fake::Feed(conn, Frame(MsgDepthMarketData, Bytes(sent)));
    ASSERT_EQ(spi.events.size(), 1u);
    EXPECT_EQ(std::memcmp(&spi.events[0].depth, &sent, sizeof sent), 0);
    EXPECT_NE(spi.events[0].recordAddress, nullptr);
    fake::Feed(conn, Frame(MsgDepthMarketData, Bytes(sent)));
    EXPECT_EQ(spi.events[1].recordAddress, spi.events[0].recordAddress) << "the body buffer itself";
}

TEST_F(Receive, ForQuoteNoticeIsLoggedThenDelivered)
{
    Start();
    world().Reset();
    fake::Feed(conn, Frame(MsgForQuoteRsp, Bytes(Quote())));
    ASSERT_EQ(spi.Kinds(), std::vector<std::string>{"RtnForQuoteRsp"});
    EXPECT_STREQ(spi.events[0].quote.InstrumentID, "au2612");
    ASSERT_EQ(world().lines.size(), 1u);
    EXPECT_EQ(world().lines[0].level, 4);
    EXPECT_EQ(
        world().lines[0].text,
        "<dbg>[   KVMDApi][      HNDMSG] - [OnRtnForQuoteRsp]:20261207,au2612,FQ1,09:31:00,20261207,EXA");
}

TEST_F(Receive, UnknownTypesAndBodiedHeartbeatsAreDroppedAfterTheActivityRearm)
{
    Start();
    for (std::uint32_t type : {MsgHeartBeat, 0xDEADBEEFu, MsgUserLogin}) {
        world().Reset();
        fake::Feed(conn, Frame(type, "abc"));
        EXPECT_TRUE(spi.events.empty());
        EXPECT_TRUE(world().lines.empty());
        ASSERT_EQ(world().sets.size(), 1u) << "OnActivity re-armed the idle timer";
        EXPECT_EQ(world().sets[0].ms, 12000u);
    }
}

// --- guards ---

TEST_F(Receive, ShortBodiesReadAsZeroNeverAsAnEarlierFrame)
{
    Start();
    CThostFtdcDepthMarketDataField full = Depth("au2612", 99);
    std::memset(full.ActionDay, 'Q', sizeof full.ActionDay - 1);
    full.AveragePrice = 123;
    fake::Feed(conn, Frame(MsgDepthMarketData, Bytes(full)));
    fake::Feed(conn, Frame(MsgDepthMarketData, Bytes(full).substr(0, 100)));
    ASSERT_EQ(spi.events.size(), 2u);
    const CThostFtdcDepthMarketDataField& shortDepth = spi.events[1].depth;
    EXPECT_STREQ(shortDepth.InstrumentID, "au2612");
    EXPECT_EQ(shortDepth.AveragePrice, 0.0);
    EXPECT_STREQ(shortDepth.ActionDay, "");
    EXPECT_EQ(shortDepth.Volume, 0);

    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, test::InstrumentBody("longname123456"), 1, 1));
    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, "ab", 1, 1));
    EXPECT_EQ(spi.events.back().instrument, "ab");

    fake::Feed(conn, Frame(MsgForQuoteRsp, Bytes(Quote())));
    fake::Feed(conn, Frame(MsgForQuoteRsp, Bytes(Quote()).substr(0, 12)));
    EXPECT_STREQ(spi.events.back().quote.InstrumentID, "au2");
    EXPECT_STREQ(spi.events.back().quote.ExchangeID, "");

    fake::Feed(conn, Frame(MsgRspUserLogin, LoginBody(true)));
    fake::Feed(conn, Frame(MsgRspUserLogin, LoginBody(false).substr(0, 40)));
    EXPECT_STREQ(spi.events.back().login.TradingDay, "20261207");
    EXPECT_STREQ(spi.events.back().login.SystemName, "");
    EXPECT_EQ(spi.events.back().login.SessionID, 0);
}

TEST_F(Receive, TextMembersOfReceivedRecordsAreAlwaysTerminated)
{
    Start();
    world().Reset();
    const std::string filled(408, 'F');
    fake::Feed(conn, Frame(MsgDepthMarketData, filled));
    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, std::string(119, 'F'), 1, 1));
    fake::Feed(conn, Frame(MsgForQuoteRsp, std::string(88, 'F')));
    ASSERT_EQ(spi.events.size(), 3u);
    const CThostFtdcDepthMarketDataField& d = spi.events[0].depth;
    EXPECT_EQ(std::strlen(d.TradingDay), 8u);
    EXPECT_EQ(std::strlen(d.InstrumentID), 30u);
    EXPECT_EQ(std::strlen(d.ExchangeID), 8u);
    EXPECT_EQ(std::strlen(d.ExchangeInstID), 30u);
    EXPECT_EQ(std::strlen(d.UpdateTime), 8u);
    EXPECT_EQ(std::strlen(d.ActionDay), 8u);
    EXPECT_EQ(spi.events[1].instrument, std::string(30, 'F'));
    EXPECT_EQ(std::strlen(spi.events[1].info.ErrorMsg), 80u);
    const CThostFtdcForQuoteRspField& q = spi.events[2].quote;
    EXPECT_EQ(std::strlen(q.ForQuoteSysID), 20u);
    EXPECT_EQ(std::strlen(q.ExchangeID), 8u);
    EXPECT_EQ(world().lines.back().text.size(),
              std::string("<dbg>[   KVMDApi][      HNDMSG] - [OnRtnForQuoteRsp]:").size() + 8 + 30 + 20 + 8 +
                  8 + 8 + 5);
}

TEST_F(Receive, BodiesLargerThanTheBufferArriveWhole)
{
    Start();
    for (std::size_t size : {801u, 4096u, 300000u, 1048576u}) {
        spi.events.clear();
        std::string body = Bytes(Depth("big", 1));
        body.resize(size, 'b');
        const std::string stream =
            Frame(MsgDepthMarketData, body) + Frame(MsgDepthMarketData, Bytes(Depth("after", 2)));
        fake::FeedChunked(conn, stream, {size / 3 + 1});
        ASSERT_EQ(spi.events.size(), 2u) << size;
        EXPECT_STREQ(spi.events[0].depth.InstrumentID, "big");
        EXPECT_STREQ(spi.events[1].depth.InstrumentID, "after");
    }
    EXPECT_TRUE(world().aborts.empty());
}

// A client keeps no 1 MiB buffer of a big body past its link: with many
// clients that memory would stay resident for nothing. Nor does it take it
// before the body is there whole: one announced and cut off (or a corrupt
// length under 1 MiB) costs nothing.
TEST_F(Receive, TheBufferOfABigBodyIsTakenWhenItIsWholeAndGivenBackWhenTheLinkIsReset)
{
    if (test::HeapBytesInUse() < 0)
        GTEST_SKIP() << "the heap in use cannot be told here";
    struct Reset {
        const char* name;
        void (*run)(Kelvo_TcpClientHandler* conn);
    };
    const Reset resets[] = {
        {"lost link", [](Kelvo_TcpClientHandler* c) { fake::Disconnect(c, 0); }},
        {"heartbeat timeout", [](Kelvo_TcpClientHandler*) { fake::World::Get().Advance(21000); }},
        {"corrupt stream",
         [](Kelvo_TcpClientHandler* c) {
             fake::Feed(c, RawHeader(MsgDepthMarketData, 1048577));
             fake::Disconnect(c, 103);
         }},
    };
    std::string body = Bytes(Depth("big", 1));
    body.resize(1048576, 'b');
    const std::string frame = Frame(MsgDepthMarketData, body);
    Start();
    // Once unmeasured: the fake keeps its own read buffer's capacity.
    fake::Feed(conn, frame);
    fake::Disconnect(conn, 0);
    for (const Reset& reset : resets) {
        SCOPED_TRACE(reset.name);
        fake::ConnectOk(conn);
        const long before = test::HeapBytesInUse();
        fake::Feed(conn, frame.substr(0, FrameHeaderSize + 100));
        EXPECT_LT(test::HeapBytesInUse() - before, 65536);
        fake::Feed(conn, frame.substr(FrameHeaderSize + 100));
        EXPECT_GE(test::HeapBytesInUse() - before, 1048576);
        reset.run(conn);
        EXPECT_LT(test::HeapBytesInUse() - before, 65536);
    }
}

TEST_F(Receive, AnAnnouncedBodyOver1MiBDropsTheLink)
{
    Start();
    world().Reset();
    fake::Feed(conn, RawHeader(MsgDepthMarketData, 1048577) + std::string(100, 'g'));
    EXPECT_TRUE(spi.events.empty());
    ASSERT_EQ(world().aborts.size(), 1u);
    ASSERT_EQ(world().lines.size(), 1u);
    EXPECT_EQ(world().lines[0].level, 1);
    EXPECT_EQ(world().lines[0].text,
              "<err>[   KVMDApi][    RecvData] - body of 1048577 bytes is too large, dropping the link");
    // The base layer reports the aborted link; the next connection starts clean.
    fake::Disconnect(conn, 103);
    EXPECT_EQ(spi.events.back().reason, 0x2001);
    fake::ConnectOk(conn);
    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, test::InstrumentBody("ok"), 1, 1));
    EXPECT_EQ(spi.events.back().instrument, "ok");
}

TEST_F(Receive, ATextBodyWithAZeroByteEndsThere)
{
    Start();
    std::string text = std::string("EXA") + '\x01' + "au2612" + '\x01' + '\x01' + "7.5";
    text += '\0';
    text += std::string(1, '\x01') + "8.5";
    fake::Feed(conn, Frame(MsgDepthMarketData, text, 0, 0, MarkerText));
    ASSERT_EQ(spi.events.size(), 1u);
    EXPECT_EQ(spi.events[0].depth.LastPrice, 7.5);
    EXPECT_EQ(spi.events[0].depth.OpenPrice, 0.0);
}

TEST_F(Receive, WithoutACallbackObjectFramesAreStillProcessed)
{
    api->RegisterSpi(nullptr);
    Start();
    world().Reset();
    fake::Feed(conn, MixedStream());
    EXPECT_EQ(fake::Unread(conn), 0u);
    const std::vector<std::string> m = Messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], "receive HeartBeat");
    EXPECT_EQ(m[1].substr(0, 20), "Set HeartBeat Timer ") << "its RequestId -1 answers \"no heartbeat yet\"";
    EXPECT_EQ(m[2].substr(0, 19), "[OnRtnForQuoteRsp]:");
    EXPECT_TRUE(spi.events.empty());
}

} // namespace

TEST_F(Receive, EachFrameTypeWrittenByteByByteReachesItsCallback)
{
    Start();
    for (const test::WireFrame& f : test::WireFrames) {
        SCOPED_TRACE(f.what);
        spi.events.clear();
        fake::Feed(conn, test::WireBytes(f));
        ASSERT_EQ(spi.Kinds(), std::vector<std::string>{f.callback});
        EXPECT_EQ(spi.events[0].requestId, f.requestId);
        EXPECT_EQ(spi.events[0].isLast, f.isLast);
    }
    // What each text form made of its body; a marker of none of the forms
    // decodes nothing and delivers an all-zero record.
    const auto depthOf = [&](std::size_t row) {
        spi.events.clear();
        fake::Feed(conn, test::WireBytes(test::WireFrames[row]));
        return spi.events.at(0).depth;
    };
    EXPECT_STREQ(depthOf(6).InstrumentID, "au2612");
    EXPECT_STREQ(depthOf(7).InstrumentID, "EX AB12 Z9");
    const CThostFtdcDepthMarketDataField unknown = depthOf(8);
    const CThostFtdcDepthMarketDataField zero{};
    EXPECT_EQ(std::memcmp(&unknown, &zero, sizeof zero), 0);
}
