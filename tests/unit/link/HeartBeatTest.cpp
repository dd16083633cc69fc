// The heartbeat supervisor on the fake's virtual clock.
#include "TestSupport.h"

#include "link/HeartBeat.h"

#include <cstdio>

using namespace mdlink;
using test::ClientFixture;
using test::Frame;
using test::Logged;
using test::Messages;
using test::RawHeader;
using test::SentHeader;

namespace {

TEST(HeartBeatObject, NeverStartedArmsNothingAndClearsZeroTwice)
{
    fake::World& w = fake::World::Get();
    {
        CHeartBeat hb;
        EXPECT_EQ(hb.GetIdleTimerId(), 0u);
        EXPECT_EQ(hb.GetReplyTimerId(), 0u);
        EXPECT_EQ(hb.GetTryCount(), 0);
        EXPECT_EQ(hb.GetHeartBeatSeq(), 0u);
    }
    EXPECT_TRUE(w.sets.empty());
    ASSERT_EQ(w.clears.size(), 2u);
    EXPECT_EQ(w.clears[0].id, 0u);
    EXPECT_EQ(w.clears[1].id, 0u);
}

// An owner of its own: the supervisor reaches whoever owns the link only
// through the callbacks it was started with.
struct RecordingOwner {
    std::vector<std::int32_t> sent;
    bool refuse = false;
    int timeouts = 0;
    std::vector<std::string> lines;

    static const HeartBeatCallbacks Callbacks;
};

const HeartBeatCallbacks RecordingOwner::Callbacks = {
    [](void* owner, const FrameHeader& header) {
        RecordingOwner* o = static_cast<RecordingOwner*>(owner);
        if (o->refuse)
            return 0;
        EXPECT_EQ(header.MsgType, MsgHeartBeat);
        EXPECT_EQ(header.BodyLength, 0u);
        o->sent.push_back(header.RequestId);
        return 1;
    },
    [](void* owner) { static_cast<RecordingOwner*>(owner)->timeouts += 1; },
    [](void* owner, const char* text) { static_cast<RecordingOwner*>(owner)->lines.push_back(text); },
};

TEST(HeartBeatObject, SendsTimesOutAndLogsThroughItsOwnersCallbacks)
{
    fake::World& w = fake::World::Get();
    RecordingOwner owner;
    CHeartBeat hb;
    hb.Start(&RecordingOwner::Callbacks, &owner);
    EXPECT_TRUE(owner.lines.empty());
    w.Advance(12000 + 3000 + 3000);
    EXPECT_EQ(owner.sent, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(owner.timeouts, 0);
    w.Advance(2999);
    EXPECT_EQ(owner.timeouts, 0);
    w.Advance(1);
    EXPECT_EQ(owner.timeouts, 1);
    EXPECT_EQ(owner.sent.size(), 3u);
    EXPECT_EQ(owner.lines,
              (std::vector<std::string>{"OnTimer begin", "Send HeartBeat", "OnTimer end", "OnTimer begin",
                                        "1 times try Send HeartBeat", "OnTimer end", "OnTimer begin",
                                        "2 times try Send HeartBeat", "OnTimer end", "OnTimer begin",
                                        "OnTimer end"}));

    // A heartbeat the owner refuses leaves nothing to wait for.
    owner.refuse = true;
    hb.Start(&RecordingOwner::Callbacks, &owner);
    w.Advance(12000);
    EXPECT_EQ(hb.GetIdleTimerId(), 0u);
    EXPECT_EQ(hb.GetReplyTimerId(), 0u);
    w.Advance(60000);
    EXPECT_EQ(owner.timeouts, 1);
}

class HeartBeat : public ClientFixture {
protected:
    // For restarting the client's supervisor by hand; outlives the client.
    RecordingOwner owner;
    CHeartBeat* hb() { return client->GetSupervisor(); }
    void Reply(std::int32_t requestId) { fake::Feed(conn, RawHeader(MsgHeartBeat, 0, requestId)); }
    void Body() { fake::Feed(conn, Frame(0x7777, "x")); }
    std::size_t Heartbeats() const
    {
        std::size_t n = 0;
        for (const fake::SentFrame& f : fake::World::Get().sent)
            n += f.bytes.size() == FrameHeaderSize;
        return n;
    }
};

TEST_F(HeartBeat, ObjectDestroyedWhileAwaitingAReplyClearsBothAndNeverFires)
{
    Start();
    world().Reset();
    auto* standalone = new CHeartBeat();
    standalone->Start(&RecordingOwner::Callbacks, &owner);
    world().Advance(12000);
    ASSERT_NE(standalone->GetReplyTimerId(), 0u);
    const unsigned int reply = standalone->GetReplyTimerId();
    world().clears.clear();
    delete standalone;
    ASSERT_EQ(world().clears.size(), 2u);
    EXPECT_EQ(world().clears[0].id, 0u);
    EXPECT_EQ(world().clears[1].id, reply);
    EXPECT_TRUE(world().PendingOf(standalone).empty());
}

TEST_F(HeartBeat, SilentLinkGivesUpAfterThreeHeartbeatsAt21Seconds)
{
    Start({"tcp://f1:1", "tcp://f2:2"});
    world().Reset();
    const std::uint64_t t0 = world().now;
    world().Advance(11999);
    EXPECT_TRUE(world().sent.empty());
    world().Advance(1);
    ASSERT_EQ(world().sent.size(), 1u);
    world().Advance(3000);
    world().Advance(3000);
    ASSERT_EQ(world().sent.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        const FrameHeader h = SentHeader(i);
        EXPECT_EQ(h.Tick, static_cast<std::uint32_t>(t0 + 12000 + 3000 * i));
        EXPECT_EQ(h.RequestId, static_cast<std::int32_t>(i));
        EXPECT_EQ(h.MsgType, MsgHeartBeat);
        EXPECT_EQ(h.Marker, MarkerBinary);
        EXPECT_EQ(h.BodyLength, 0u);
        EXPECT_EQ(world().sent[i].bytes.size(), 24u);
    }
    EXPECT_TRUE(world().closes.empty());
    world().Advance(2999);
    EXPECT_TRUE(world().closes.empty());

    int connectsSeenByApplication = -1;
    spi.onEvent = [&](const test::SpiEvent& e) {
        if (e.kind == "FrontDisconnected")
            connectsSeenByApplication = static_cast<int>(world().connects.size());
    };
    world().Advance(1);
    ASSERT_EQ(world().closes.size(), 1u);
    ASSERT_EQ(world().connects.size(), 1u);
    EXPECT_EQ(world().connects[0].host, "f2");
    EXPECT_EQ(connectsSeenByApplication, 1) << "the application hears of it after the new connect";
    ASSERT_EQ(spi.events.back().kind, "FrontDisconnected");
    EXPECT_EQ(spi.events.back().reason, 0x2002);
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"OnTimer begin", "Send HeartBeat", "OnTimer end", "OnTimer begin",
                                        "1 times try Send HeartBeat", "OnTimer end", "OnTimer begin",
                                        "2 times try Send HeartBeat", "OnTimer end", "OnTimer begin",
                                        "HeartBeatTimeout begin", "reConnect [f2] 2", "HeartBeatTimeout end",
                                        "OnTimer end"}));
    EXPECT_EQ(world().lines[0].text, "<app>[   KVMDApi][   HeartBeat] - OnTimer begin");
    EXPECT_EQ(world().lines[10].text, "<app>[   KVMDApi][     Timeout] - HeartBeatTimeout begin");
    EXPECT_EQ(hb()->GetIdleTimerId(), 0u);
    EXPECT_EQ(hb()->GetReplyTimerId(), 0u);
    EXPECT_EQ(hb()->GetTryCount(), 0);
    world().Advance(60000);
    EXPECT_EQ(world().sent.size(), 3u) << "unarmed until the next connection";
}

TEST_F(HeartBeat, OnlyTheReplyToTheLatestHeartbeatCounts)
{
    Start();
    world().Advance(15000);
    ASSERT_EQ(Heartbeats(), 2u);
    world().Reset();
    Reply(0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"receive HeartBeat"});
    EXPECT_NE(hb()->GetReplyTimerId(), 0u);
    Reply(1);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Set HeartBeat Timer 0x%08x", hb()->GetIdleTimerId());
    EXPECT_EQ(Messages(), (std::vector<std::string>{"receive HeartBeat", "receive HeartBeat", expected}));
    EXPECT_EQ(hb()->GetReplyTimerId(), 0u);
    EXPECT_EQ(hb()->GetTryCount(), 0);
    world().Advance(11999);
    EXPECT_TRUE(world().sent.empty());
    world().Advance(1);
    ASSERT_EQ(world().sent.size(), 1u);
    EXPECT_EQ(SentHeader(0).RequestId, 2);
}

TEST_F(HeartBeat, BodyFrameWhileAwaitingAReplyRearmsTheIdleTimer)
{
    Start();
    world().Advance(15000);
    EXPECT_EQ(hb()->GetTryCount(), 1);
    world().Reset();
    Body();
    EXPECT_EQ(hb()->GetReplyTimerId(), 0u);
    EXPECT_EQ(hb()->GetTryCount(), 0);
    EXPECT_NE(hb()->GetIdleTimerId(), 0u);
    EXPECT_TRUE(world().lines.empty()) << "activity writes no record";
    world().Advance(11999);
    EXPECT_TRUE(world().sent.empty());
    world().Advance(1 + 3000 + 3000);
    EXPECT_EQ(Heartbeats(), 3u);
    EXPECT_TRUE(world().closes.empty()) << "three fresh tries after the activity";
}

TEST_F(HeartBeat, SameReplyTwiceIsAcceptedTwiceAndTheStaleIdleExpiryIsIgnored)
{
    Start();
    world().Advance(12000);
    world().Reset();
    Reply(0);
    const unsigned int first = hb()->GetIdleTimerId();
    Reply(0);
    const unsigned int second = hb()->GetIdleTimerId();
    ASSERT_NE(first, second);
    EXPECT_EQ(world().PendingOf(hb()).size(), 2u);
    world().Reset();
    world().Advance(12000);
    char stale[64];
    std::snprintf(stale, sizeof stale, "OnTimer [owner:0][0x%08x] end", first);
    const std::vector<std::string> m = Messages();
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m[0], "OnTimer begin");
    EXPECT_EQ(m[1], stale);
    EXPECT_EQ(world().sent.size(), 1u) << "only the current idle timer sent a heartbeat";
}

TEST_F(HeartBeat, StaleReplyTimerExpiryIsLoggedWithItsOwner)
{
    Start();
    world().Advance(12000);
    const unsigned int reply = hb()->GetReplyTimerId();
    // Deliver the old reply timer's expiry after it was replaced.
    Reply(0);
    world().Reset();
    fake::InLoop([&] { hb()->OnTimer(reply, 0, CHeartBeat::OwnerReply); });
    char stale[64];
    std::snprintf(stale, sizeof stale, "OnTimer [owner:1][0x%08x] end", reply);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"OnTimer begin", stale}));
    EXPECT_TRUE(world().sent.empty());
}

TEST_F(HeartBeat, SequenceCarriesOnAcrossReconnects)
{
    Start();
    world().Advance(21000);
    ASSERT_EQ(world().closes.size(), 1u);
    fake::ConnectOk(conn);
    world().Reset();
    world().Advance(12000);
    ASSERT_EQ(world().sent.size(), 1u);
    EXPECT_EQ(SentHeader(0).RequestId, 3);
}

TEST_F(HeartBeat, BeforeAnyHeartbeatAReplyOfAllOnesIsAccepted)
{
    Start();
    world().Reset();
    Reply(0);
    EXPECT_EQ(Messages().size(), 1u);
    Reply(-1);
    EXPECT_EQ(Messages().size(), 3u);
    EXPECT_EQ(Messages().back().substr(0, 20), "Set HeartBeat Timer ");
}

TEST_F(HeartBeat, FailedSendLeavesItUnarmedUntilTheNextBodyFrame)
{
    Start();
    world().Reset();
    world().sendScript = {0};
    world().Advance(12000);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"OnTimer begin", "Send HeartBeat", "OnTimer end"}));
    EXPECT_EQ(world().refusedSends, 1);
    EXPECT_EQ(hb()->GetIdleTimerId(), 0u);
    EXPECT_EQ(hb()->GetReplyTimerId(), 0u);
    EXPECT_TRUE(world().PendingOf(hb()).empty());
    world().Advance(100000);
    EXPECT_TRUE(world().sent.empty());
    Body();
    world().Advance(12000);
    EXPECT_EQ(world().sent.size(), 1u);
}

TEST_F(HeartBeat, StopKeepsTheTryCountUnlessAReplyWasAwaited)
{
    Start();
    world().Advance(12000);
    world().sendScript = {0};
    world().Advance(3000); // first retry fails: unarmed with one try counted
    EXPECT_EQ(hb()->GetTryCount(), 1);
    EXPECT_EQ(hb()->GetReplyTimerId(), 0u);
    hb()->OnActivity(); // only the idle timer armed now
    EXPECT_EQ(hb()->GetTryCount(), 1);
    hb()->Stop();
    EXPECT_EQ(hb()->GetTryCount(), 1);
    EXPECT_EQ(hb()->GetIdleTimerId(), 0u);

    hb()->Start(&RecordingOwner::Callbacks, &owner);
    world().Advance(15000);
    EXPECT_EQ(hb()->GetTryCount(), 1);
    hb()->Stop();
    EXPECT_EQ(hb()->GetTryCount(), 0);
    EXPECT_TRUE(world().PendingOf(hb()).empty());
}

TEST_F(HeartBeat, StartClearsBothTimersAndArmsTheIdleOne)
{
    Start();
    world().Advance(12000);
    const unsigned int reply = hb()->GetReplyTimerId();
    world().Reset();
    hb()->Start(&RecordingOwner::Callbacks, &owner);
    ASSERT_EQ(world().clears.size(), 2u);
    EXPECT_EQ(world().clears[0].id, 0u);
    EXPECT_EQ(world().clears[1].id, reply);
    ASSERT_EQ(world().sets.size(), 1u);
    EXPECT_EQ(world().sets[0].ms, 12000u);
    EXPECT_EQ(world().sets[0].user, 0);
    EXPECT_EQ(hb()->GetReplyTimerId(), 0u);
    EXPECT_TRUE(world().lines.empty());
}

} // namespace
