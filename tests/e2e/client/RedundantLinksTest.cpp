// An unchanged application with two fronts serving the same numbered feed,
// made redundant by MDLINK_LINKS=2: the leading front dies in every way it
// can, and the application hears nothing of it and misses no record. On
// the fast-time base library (reconnects after 150 ms, a heartbeat timeout
// at 1.05 s).
#include "E2eSupport.h"
#include "PlatformErrors.h"

#include <cstdlib>
#include <map>

namespace e2e {
namespace {

void SetLinks(const char* value)
{
#ifdef _WIN32
    _putenv_s("MDLINK_LINKS", value);
#else
    if (*value)
        setenv("MDLINK_LINKS", value, 1);
    else
        unsetenv("MDLINK_LINKS");
#endif
}

class RedundantLinks : public ClientTest {
protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        SetLinks("2");
    }
    void TearDown() override
    {
        ClientTest::TearDown();
        SetLinks("");
    }

    // The same feed on both; the second lags, so the first leads.
    static mdfront::FrontConfig Feed(int lagMs = 0)
    {
        mdfront::FrontConfig cfg = BaseConfig();
        cfg.shared_feed = true;
        cfg.rate = 50;
        cfg.seed = 3;
        cfg.delay = std::chrono::milliseconds(lagMs);
        return cfg;
    }

    void StartPair(const mdfront::FrontConfig& lead = Feed(), const mdfront::FrontConfig& lag = Feed(30),
                   bool waitForLag = true)
    {
        lead_ = &AddFront(lead);
        lag_ = &AddFront(lag);
        lead_->SetPort(lead_->Port()); // a restart comes back where the link looks
        lag_->SetPort(lag_->Port());
        session_->instruments = {"au2612", "ag2612"};
        StartClient({Address(*lead_), Address(*lag_)});
        if (waitForLag) {
            ASSERT_TRUE(SubscribedOn(*lag_));
        }
        ASSERT_TRUE(session_->WaitCount(Kind::Depth, 20));
    }

    // The front's latest connection is logged in and subscribed to both.
    static bool SubscribedOn(const mdfront::FrontServer& front)
    {
        return front.WaitUntil(Patience, [&] {
            const std::size_t n = front.ConnectionCount();
            return n > 0 && front.Stats(n - 1).subscribed.size() == 2;
        });
    }

    // Every instrument's records numbered one after the other, each once.
    void ExpectEveryRecordOnceInOrder() const
    {
        std::map<std::string, int> last;
        for (const Event& e : session_->Of(Kind::Depth)) {
            auto it = last.find(e.depth.InstrumentID);
            if (it != last.end()) {
                EXPECT_TRUE(e.depth.Volume == it->second + 1 || e.depth.Volume == 0)
                    << e.depth.InstrumentID << ": " << e.depth.Volume << " after " << it->second;
            }
            last[e.depth.InstrumentID] = e.depth.Volume;
        }
    }

    // Records keep coming for a while.
    void ExpectRecordsGoOn()
    {
        const std::size_t now = session_->Count(Kind::Depth);
        ASSERT_TRUE(session_->WaitCount(Kind::Depth, now + 50));
    }

    mdfront::FrontServer* lead_ = nullptr;
    mdfront::FrontServer* lag_ = nullptr;
};

enum class Death { Silent, Closed, Killed, RefusesLoginsAfterRestart };

class LeaderDies : public RedundantLinks, public ::testing::WithParamInterface<Death> {};

TEST_P(LeaderDies, TheApplicationHearsNothingAndMissesNothing)
{
    StartPair();
    const std::size_t before = lead_->ConnectionCount();
    switch (GetParam()) {
    case Death::Silent:
        lead_->Silence(before - 1); // found out by the heartbeat, then reconnected
        break;
    case Death::Closed: lead_->CloseConnection(before - 1); break;
    case Death::Killed:
        lead_->Stop();
        ExpectRecordsGoOn();
        lead_->Start();
        break;
    case Death::RefusesLoginsAfterRestart: {
        const std::uint16_t port = lead_->Port();
        lead_->Stop();
        ExpectRecordsGoOn();
        mdfront::FrontConfig cfg = Feed();
        cfg.port = port;
        cfg.faults.refuse_logins = true;
        lead_ = &AddFront(cfg);
        ASSERT_TRUE(lead_->WaitUntil(Patience, [&] {
            return lead_->ConnectionCount() == 1 && !lead_->Connection(0).received.empty();
        }));
        break;
    }
    }
    ExpectRecordsGoOn();
    if (GetParam() == Death::RefusesLoginsAfterRestart) {
        EXPECT_FALSE(lead_->Stats(0).logged_in);
        EXPECT_TRUE(lead_->Stats(0).subscribed.empty());
    } else {
        // Back without the application doing anything: logged in, subscribed.
        EXPECT_TRUE(lead_->WaitUntil(Patience, [&] { return lead_->ConnectionCount() > before; }));
        EXPECT_TRUE(SubscribedOn(*lead_));
    }
    ExpectRecordsGoOn();
    EXPECT_EQ(session_->Count(Kind::Disconnected), 0u);
    EXPECT_EQ(session_->Count(Kind::Connected), 1u);
    EXPECT_EQ(session_->Count(Kind::Login), 1u);
    EXPECT_EQ(session_->Count(Kind::SubMd), 2u);
    ExpectEveryRecordOnceInOrder();
}

std::string DeathName(const ::testing::TestParamInfo<Death>& info)
{
    static const char* const names[] = {"Silent", "Closed", "Killed", "RefusesLogins"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Ways, LeaderDies,
                         ::testing::Values(Death::Silent, Death::Closed, Death::Killed,
                                           Death::RefusesLoginsAfterRestart),
                         DeathName);

TEST_F(RedundantLinks, BothLostIsOneDisconnectionAndOneFrontBackIsOneConnection)
{
    StartPair();
    lead_->Stop();
    lag_->Stop();
    ASSERT_TRUE(session_->WaitUntil([&] {
        for (const Event& e : session_->Of(Kind::Disconnected))
            if (e.reason == ReasonLinkLost)
                return true;
        return false;
    }));
    lag_->Start();
    ASSERT_TRUE(session_->WaitCount(Kind::Login, 2)); // the application's own, as usual
    ASSERT_TRUE(SubscribedOn(*lag_));
    lead_->Start();
    ASSERT_TRUE(SubscribedOn(*lead_)); // the redundant client's own, with the new login
    ExpectRecordsGoOn();
    int lost = 0;
    for (const Event& e : session_->Of(Kind::Disconnected)) {
        lost += e.reason == ReasonLinkLost;
        // After the loss, the attempts of the link lost last, as a single client's.
        EXPECT_TRUE(e.reason == ReasonLinkLost || e.reason == kelvotest::kConnRefused) << e.reason;
    }
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(session_->Count(Kind::Connected), 2u);
    EXPECT_EQ(session_->Count(Kind::Login), 2u);
    const std::size_t n = lag_->ConnectionCount();
    EXPECT_EQ(lag_->Stats(n - 1).user, "trader");
}

// The other front at its edges: the application is answered by the link
// that can serve it, and hears at once when none can.
TEST_F(RedundantLinks, ARefusingFrontNeitherAnswersTheLoginNorHidesTheLossOfTheOther)
{
    // Registered first and refusing: the second link's acceptance answers.
    mdfront::FrontConfig refusing = Feed();
    refusing.faults.refuse_logins = true;
    StartPair(refusing, Feed(30), false);
    ASSERT_TRUE(session_->WaitCount(Kind::Login, 1));
    const Event login = session_->Of(Kind::Login).front();
    EXPECT_EQ(login.info.ErrorID, 0);
    ExpectRecordsGoOn();
    // The refusing front is not hammered: its link waits, then tries again.
    EXPECT_TRUE(lead_->WaitUntil(Patience, [&] { return lead_->ConnectionCount() >= 2; }));
    EXPECT_EQ(session_->Count(Kind::Disconnected), 0u);

    // The only usable link goes: the application hears it.
    lag_->Stop();
    ASSERT_TRUE(session_->WaitCount(Kind::Disconnected, 1));
    EXPECT_EQ(session_->Of(Kind::Disconnected).front().reason, ReasonLinkLost);
}

TEST_F(RedundantLinks, TheOtherFrontsRecordsComeWhenTheLaterDaysFrontGoes)
{
    mdfront::FrontConfig later = Feed();
    later.trading_day = "20261210";
    mdfront::FrontConfig earlier = Feed(30);
    earlier.trading_day = "20261209";
    StartPair(later, earlier);
    ExpectRecordsGoOn();
    // Each record once, from whichever front brought it first: the earlier
    // day's copies are copies, not news (the later day's front leads, but a
    // slow machine may let the other's copy in first now and then).
    ExpectEveryRecordOnceInOrder();
    std::size_t fromLater = 0;
    for (const Event& e : session_->Of(Kind::Depth))
        fromLater += std::string(e.depth.TradingDay) == "20261210";
    EXPECT_GT(fromLater, 0u);
    lead_->Stop();
    ASSERT_TRUE(session_->WaitUntil([&] {
        for (const Event& e : session_->Of(Kind::Depth))
            if (std::string(e.depth.TradingDay) == "20261209")
                return true;
        return false;
    }));
    ExpectRecordsGoOn();
    EXPECT_EQ(session_->Count(Kind::Disconnected), 0u);
}

} // namespace
} // namespace e2e
