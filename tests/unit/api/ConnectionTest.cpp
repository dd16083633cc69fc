// Connection events, failover, and Release from inside callbacks.
#include "TestSupport.h"

#include "link/HeartBeat.h"

using namespace mdlink;
using test::ClientFixture;
using test::Frame;
using test::Messages;

namespace {

class Connection : public ClientFixture {
protected:
    CHeartBeat* hb() { return client->GetSupervisor(); }
    std::vector<std::string> TimeoutTargets(int timeouts)
    {
        std::vector<std::string> hosts;
        for (int i = 0; i < timeouts; ++i) {
            fake::ConnectOk(conn);
            world().Advance(21000);
            hosts.push_back(world().connects.back().host);
        }
        return hosts;
    }
};

TEST_F(Connection, ConnectOkStartsTheHeartbeatAndTellsTheApplication)
{
    Start({"tcp://f1:1"}, false);
    world().Reset();
    fake::ConnectOk(conn);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"OnConnectOk begin", "OnConnectOk end"}));
    EXPECT_EQ(world().lines[0].text, "<app>[   KVMDApi][ OnConnectOk] - OnConnectOk begin");
    EXPECT_EQ(spi.Kinds(), std::vector<std::string>{"FrontConnected"});
    ASSERT_EQ(world().sets.size(), 1u);
    EXPECT_EQ(world().sets[0].ms, 12000u);
    EXPECT_NE(hb()->GetIdleTimerId(), 0u);
}

TEST_F(Connection, FailedConnectPassesTheBaseReasonAndMovesTheRetryOn)
{
    Start({"tcp://f1:1", "tcp://f2:2"}, false);
    world().Reset();
    EXPECT_EQ(fake::ConnectFail(conn, 5), 3000);
    ASSERT_EQ(spi.events.size(), 1u);
    EXPECT_EQ(spi.events[0].kind, "FrontDisconnected");
    EXPECT_EQ(spi.events[0].reason, 5);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"OnConnectFaild begin 5", "OnConnectFaild end"}));
    EXPECT_EQ(world().lines[0].text, "<app>[   KVMDApi][ConnectFaild] - OnConnectFaild begin 5");
    ASSERT_EQ(world().reconnectAddrs.size(), 1u);
    EXPECT_EQ(world().reconnectAddrs[0].host, "f2");
    EXPECT_EQ(world().reconnectAddrs[0].port, 2);
    EXPECT_TRUE(world().connects.empty()) << "the base layer reconnects, not the client";
    // The next failure moves on again, round robin.
    fake::ConnectFail(conn, 111);
    EXPECT_EQ(world().reconnectAddrs.back().host, "f1");
}

TEST_F(Connection, LostLinkReportsItsOwnReasonAndRetriesTheSameFront)
{
    Start({"tcp://f1:1", "tcp://f2:2"});
    world().Reset();
    EXPECT_EQ(fake::Disconnect(conn, 104), 3000);
    ASSERT_EQ(spi.events.back().kind, "FrontDisconnected");
    EXPECT_EQ(spi.events.back().reason, 0x2001);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"OnDisConnect begin 104", "OnDisConnect end"}));
    EXPECT_EQ(world().lines[0].text, "<app>[   KVMDApi][  DisConnect] - OnDisConnect begin 104");
    EXPECT_TRUE(world().reconnectAddrs.empty());
    EXPECT_EQ(hb()->GetIdleTimerId(), 0u);
    EXPECT_TRUE(world().PendingOf(hb()).empty());
    EXPECT_EQ(fake::Disconnect(conn, 0), 3000);
    EXPECT_EQ(spi.events.back().reason, 0x2001);
}

TEST_F(Connection, LinkLostWhileAwaitingAReplyMeansNoTimeoutFollows)
{
    Start();
    world().Advance(15000);
    fake::Disconnect(conn, 104);
    world().Reset();
    world().Advance(60000);
    EXPECT_TRUE(world().closes.empty());
    EXPECT_TRUE(world().sent.empty());
}

TEST_F(Connection, HeartbeatTimeoutsRotateThroughTheFronts)
{
    Start({"tcp://f1:1", "tcp://f2:2", "tcp://f3:3"}, false);
    EXPECT_EQ(world().connects.back().host, "f1");
    EXPECT_EQ(TimeoutTargets(4), (std::vector<std::string>{"f2", "f3", "f1", "f2"}));
}

TEST_F(Connection, TwoFrontsAlternate)
{
    Start({"tcp://f1:1", "tcp://f2:2"}, false);
    EXPECT_EQ(TimeoutTargets(3), (std::vector<std::string>{"f2", "f1", "f2"}));
}

TEST_F(Connection, OneFrontIsRetriedEveryTime)
{
    Start({"tcp://f1:1"}, false);
    EXPECT_EQ(TimeoutTargets(2), (std::vector<std::string>{"f1", "f1"}));
}

TEST_F(Connection, AFrameHalfReceivedWhenTheLinkDropsIsForgotten)
{
    Start();
    const std::string first = Frame(MsgRspSubscribeMarketData, test::InstrumentBody("old"), 1, 1);
    fake::Feed(conn, first.substr(0, 30));
    fake::Disconnect(conn, 104);
    fake::ConnectOk(conn);
    fake::Feed(conn, Frame(MsgRspSubscribeMarketData, test::InstrumentBody("new"), 2, 1));
    ASSERT_EQ(spi.Count("RspSubMarketData"), 1);
    EXPECT_EQ(spi.events.back().instrument, "new");
    EXPECT_EQ(spi.events.back().requestId, 2);
}

TEST_F(Connection, WithoutACallbackObjectEverythingElseStillRuns)
{
    api->RegisterSpi(nullptr);
    Start({"tcp://f1:1", "tcp://f2:2"});
    EXPECT_EQ(fake::ConnectFail(conn, 5), 3000);
    EXPECT_EQ(fake::Disconnect(conn, 5), 3000);
    fake::ConnectOk(conn);
    world().Advance(21000);
    // Init took f1; the failed connect moved the retry to f2; the timeout wraps to f1.
    EXPECT_EQ(world().reconnectAddrs.back().host, "f2");
    EXPECT_EQ(world().connects.back().host, "f1");
    EXPECT_TRUE(spi.events.empty());
}

// Release from inside a callback closes at once; the object lives until the
// callback has returned to the loop.

TEST_F(Connection, ReleaseInsideFrontConnected)
{
    Start({"tcp://f1:1"}, false);
    const std::size_t alive = world().handlers.size();
    spi.onEvent = [&](const test::SpiEvent&) { api->Release(); };
    fake::ConnectOk(conn);
    EXPECT_EQ(world().handlers.size(), alive) << "destruction waits for the loop";
    EXPECT_EQ(world().closes.size(), 1u);
    EXPECT_EQ(Messages().back(), "OnConnectOk end");
    world().RunPosted();
    EXPECT_EQ(world().handlers.size(), alive - 1);
    EXPECT_TRUE(world().pending.empty());
    api = nullptr;
}

TEST_F(Connection, ReleaseInsideTheHeartbeatTimeoutCallback)
{
    Start({"tcp://f1:1", "tcp://f2:2"});
    spi.onEvent = [&](const test::SpiEvent& e) {
        if (e.kind == "FrontDisconnected")
            api->Release();
    };
    world().Reset();
    world().Advance(21000);
    // The reconnect just started was closed again, and the timer callback
    // finished its records through the still-living client.
    EXPECT_EQ(world().closes.size(), 2u);
    EXPECT_EQ(Messages().back(), "OnTimer end");
    world().RunPosted();
    world().Advance(60000);
    EXPECT_EQ(world().sent.size(), 3u);
    api = nullptr;
}

TEST_F(Connection, ReleaseInsideFrontDisconnectedOfAFailedConnect)
{
    Start({"tcp://f1:1"}, false);
    const std::size_t alive = world().handlers.size();
    spi.onEvent = [&](const test::SpiEvent&) { api->Release(); };
    fake::ConnectFail(conn, 111);
    world().RunPosted();
    EXPECT_EQ(world().handlers.size(), alive - 1);
    api = nullptr;
}

TEST_F(Connection, ReleaseInsideADataCallbackStopsTheRestOfTheStream)
{
    Start();
    CThostFtdcDepthMarketDataField depth{};
    const std::string frame = Frame(MsgDepthMarketData, test::Bytes(depth));
    spi.onEvent = [&](const test::SpiEvent&) { api->Release(); };
    fake::Feed(conn, frame + frame + frame);
    EXPECT_EQ(spi.Count("RtnDepthMarketData"), 1);
    world().RunPosted();
    api = nullptr;
}

} // namespace
