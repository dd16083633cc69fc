// Release from inside each kind of callback, and from another thread while
// the front floods: nothing of the released client runs afterwards.
// AddressSanitizer turns a late call or a late access into a failure,
// ThreadSanitizer a race with the loop thread.
#include "E2eSupport.h"
#include "PlatformErrors.h"

#include <cerrno>

namespace e2e {
namespace {

// All links the front has seen are closed.
bool AllClosed(const mdfront::FrontServer& front)
{
    for (std::size_t i = 0; i < front.ConnectionCount(); ++i)
        if (front.Stats(i).open)
            return false;
    return true;
}

struct Trigger {
    const char* name;
    Kind kind;  // the callback that releases
    int reason; // the reason it carries, for OnFrontDisconnected
    void (*tweak)(mdfront::FrontConfig&);
    bool refused = false; // the client's one front refuses connections
};

const Trigger Triggers[] = {
    {"FrontConnected", Kind::Connected, 0, nullptr},
    {"FrontDisconnectedOfAFailedConnect", Kind::Disconnected, kelvotest::kConnRefused, nullptr, true},
    {"FrontDisconnectedOfALostLink", Kind::Disconnected, ReasonLinkLost,
     [](mdfront::FrontConfig& c) { c.faults.close_after_frames = 1; }},
    {"FrontDisconnectedOfAHeartBeatTimeout", Kind::Disconnected, ReasonHeartBeatTimeout,
     [](mdfront::FrontConfig& c) { c.faults.silent_after_frames = 1; }},
    {"RspUserLogin", Kind::Login, 0, nullptr},
    {"RspSubMarketData", Kind::SubMd, 0, nullptr},
    {"RtnDepthMarketData", Kind::Depth, 0, nullptr},
    {"RtnForQuoteRsp", Kind::Quote, 0, nullptr},
};

void PrintTo(const Trigger& t, std::ostream* out)
{
    *out << t.name;
}

class ReleaseInside : public ClientTest, public ::testing::WithParamInterface<Trigger> {};

TEST_P(ReleaseInside, NoCallbackFollows)
{
    const Trigger& t = GetParam();
    mdfront::FrontConfig cfg = BaseConfig();
    if (t.tweak)
        t.tweak(cfg);
    mdfront::FrontServer& front = AddFront(cfg);
    session_->instruments = {"au2612", "ag2612"};
    session_->quotes = {"IF2612"};
    session_->releaseOn = t.kind;
    Witness witness(refusing_.Address());
    StartClient({t.refused ? refusing_.Address() : Address(front)});
    ASSERT_TRUE(session_->WaitUntil([&] { return session_->Released(); }));
    // Twice a reconnect delay on the loop: whatever the released client had
    // still armed would have fired by now.
    ASSERT_TRUE(witness.WaitFailures(2));
    EXPECT_EQ(session_->LateCalls(), 0);
    const std::vector<Event> events = session_->Events();
    EXPECT_EQ(events.back().kind, t.kind);
    EXPECT_EQ(events.back().reason, t.reason);
    EXPECT_TRUE(front.WaitUntil(Patience, [&] { return AllClosed(front); }));
}

INSTANTIATE_TEST_SUITE_P(Callbacks, ReleaseInside, ::testing::ValuesIn(Triggers),
                         [](const ::testing::TestParamInfo<Trigger>& info) { return info.param.name; });

// A front that sends as fast as the socket takes it, and a session that
// subscribes two instruments and only counts their records.
class FloodTest : public ClientTest {
protected:
    mdfront::FrontServer& FloodingFront(std::size_t recordLimit)
    {
        mdfront::FrontConfig cfg = BaseConfig();
        cfg.rate = 0;
        cfg.record_limit = recordLimit;
        session_->instruments = {"au2612", "ag2612"};
        session_->keepDepth = false;
        return AddFront(cfg);
    }
};

// Release from the test's thread while the loop is busy delivering a flood,
// after a few records or after many.
class ReleaseFromAnotherThread : public FloodTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ReleaseFromAnotherThread, NothingRunsOnceItReturns)
{
    mdfront::FrontServer& front = FloodingFront(1000);
    Witness witness(refusing_.Address());
    StartClient({Address(front)});
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, GetParam()));
    ReleaseClient();
    EXPECT_EQ(session_->Active(), 0);
    EXPECT_EQ(session_->LateCalls(), 0);
    session_.reset(); // a call from now on is a use after free
    ASSERT_TRUE(witness.WaitFailures(2));
    EXPECT_TRUE(front.WaitUntil(Patience, [&] { return AllClosed(front); }));
}

INSTANTIATE_TEST_SUITE_P(Flood, ReleaseFromAnotherThread, ::testing::Values(1, 1000, 20000));

// RegisterSpi and RegisterFront from the test's thread while the loop is
// busy delivering a flood: a switch takes effect between two callbacks, so
// the object switched away from gets nothing once RegisterSpi has returned.
using RegisterWhileFlooding = FloodTest;

TEST_F(RegisterWhileFlooding, TheOldCallbackObjectGetsNothingOnceTheSwitchReturned)
{
    mdfront::FrontServer& front = FloodingFront(16);
    Session other;
    other.keepDepth = false;
    StartClient({Address(front)});
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 1));
    Session* objects[] = {session_.get(), &other};
    for (int i = 1; i <= 10; ++i) {
        std::string address = Address(front);
        api_->RegisterFront(&address[0]);
        Session& from = *objects[(i + 1) % 2];
        Session& to = *objects[i % 2];
        const std::size_t before = to.Count(Kind::Depth);
        api_->RegisterSpi(&to);
        const std::size_t fromAfter = from.Count(Kind::Depth);
        ASSERT_TRUE(to.WaitCount(Kind::Depth, before + 50)) << "switch " << i;
        EXPECT_EQ(from.Count(Kind::Depth), fromAfter) << "switch " << i;
        EXPECT_EQ(from.Active(), 0);
    }
    ReleaseClient();
}

} // namespace
} // namespace e2e
