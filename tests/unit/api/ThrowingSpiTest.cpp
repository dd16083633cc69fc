// An application whose callbacks throw: each exception is contained where the
// client called, counted in an err record, and the client carries on as if
// the callback had returned.
#include "TestSupport.h"

#include "link/HeartBeat.h"

#include <stdexcept>

using namespace mdlink;
using test::ClientFixture;
using test::Messages;

namespace {

class ThrowingSpi : public ClientFixture {
protected:
    // The next callback of this kind throws what; the others return.
    void ThrowOnce(const std::string& kind, const char* what = "boom")
    {
        spi.onEvent = [this, kind, what](const test::SpiEvent& e) {
            if (e.kind != kind)
                return;
            const char* const message = what;
            // Destroys this closure: nothing it captured may be read after.
            spi.onEvent = nullptr;
            if (message)
                throw std::runtime_error(message);
            throw 42;
        };
    }
    std::vector<std::string> Errors() const
    {
        std::vector<std::string> out;
        for (const fake::TraceLine& line : fake::World::Get().lines)
            if (line.level == 1)
                out.push_back(line.text);
        return out;
    }
    static std::string Record(const std::string& callback, const std::string& what, int count)
    {
        return "<err>[   KVMDApi][    Callback] - " + callback + " threw: " + what + " (" +
            std::to_string(count) + " since the last record)";
    }
};

const std::string DepthFrame = test::WireBytes(test::WireFrames[5]);

TEST_F(ThrowingSpi, EachFrameCallbackThatThrowsIsLoggedAndTheNextFrameStillArrives)
{
    Start();
    for (const test::WireFrame& f : test::WireFrames) {
        SCOPED_TRACE(f.what);
        world().Reset();
        spi.events.clear();
        const std::string kind = std::string(f.callback);
        ThrowOnce(kind);
        fake::Feed(conn, test::WireBytes(f) + DepthFrame);
        EXPECT_EQ(spi.Kinds(), (std::vector<std::string>{kind, "RtnDepthMarketData"}));
        EXPECT_EQ(Errors(), std::vector<std::string>{Record("On" + kind, "boom", 1)});
        EXPECT_TRUE(world().aborts.empty());
    }
}

TEST_F(ThrowingSpi, ConnectionCallbacksThatThrowStillLeaveTheLinkSupervisedAndRetried)
{
    Start({"tcp://f1:1", "tcp://f2:2"}, false);
    ThrowOnce("FrontConnected");
    fake::ConnectOk(conn);
    EXPECT_NE(client->GetSupervisor()->GetIdleTimerId(), 0u) << "heartbeat armed";

    ThrowOnce("FrontDisconnected");
    EXPECT_EQ(fake::Disconnect(conn, 104), CKelvoMDClient::ReconnectDelay);

    ThrowOnce("FrontDisconnected", nullptr);
    EXPECT_EQ(fake::ConnectFail(conn, 111), CKelvoMDClient::ReconnectDelay);
    ASSERT_EQ(world().reconnectAddrs.size(), 1u);

    fake::ConnectOk(conn);
    ThrowOnce("FrontDisconnected");
    const std::size_t connects = world().connects.size();
    world().Advance(21000);
    EXPECT_EQ(world().connects.size(), connects + 1) << "the timeout reconnected";
    EXPECT_EQ(Errors(),
              (std::vector<std::string>{Record("OnFrontConnected", "boom", 1),
                                        Record("OnFrontDisconnected", "boom", 1),
                                        Record("OnFrontDisconnected", "unknown exception", 1),
                                        Record("OnFrontDisconnected", "boom", 1)}));
}

TEST_F(ThrowingSpi, AnApplicationThrowingOnEveryRecordIsLoggedAtMostOnceASecondAndNothingIsLost)
{
    Start();
    spi.onEvent = [](const test::SpiEvent&) { throw std::runtime_error("every time"); };
    std::string burst;
    for (int i = 0; i < 20; ++i)
        burst += DepthFrame;
    fake::Feed(conn, burst);
    EXPECT_EQ(spi.Count("RtnDepthMarketData"), 20);
    EXPECT_EQ(Errors().size(), 5u) << "the first few one by one, then quiet";
    world().now += 999;
    fake::Feed(conn, DepthFrame);
    EXPECT_EQ(Errors().size(), 5u);
    world().now += 1;
    fake::Feed(conn, DepthFrame + DepthFrame);
    ASSERT_EQ(Errors().size(), 6u);
    EXPECT_EQ(Errors().back(), Record("OnRtnDepthMarketData", "every time", 17));
    Release();
    ASSERT_EQ(Errors().size(), 7u) << "what was still counted, at the end";
    EXPECT_EQ(Errors().back(), Record("OnRtnDepthMarketData", "every time", 1));
}

TEST_F(ThrowingSpi, NoMemoryToHandleAFrameDropsTheLinkAsLost)
{
    Start();
    world().failSetTimer = true; // the idle timer is re-armed for every frame
    fake::Feed(conn, test::WireBytes(test::WireFrames[6]));
    world().failSetTimer = false;
    EXPECT_TRUE(spi.events.empty());
    EXPECT_EQ(Errors(),
              std::vector<std::string>{
                  "<err>[   KVMDApi][    RecvData] - a frame could not be handled, dropping the link"});
    EXPECT_EQ(world().aborts.size(), 1u);
    // The base layer then reports the aborted link as lost.
    EXPECT_EQ(fake::Disconnect(conn, 103), CKelvoMDClient::ReconnectDelay);
    EXPECT_EQ(spi.events.back().reason, CKelvoMDClient::ReasonDisConnect);
}

} // namespace
