// The redundant client on fake links: how fronts are dealt, what the
// application hears of links coming and going, the login and subscription
// rules, records and notices once each, Release, and the counters.
#include "RedundantSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace test {
namespace {

using Strings = std::vector<std::string>;

class RedundantClient : public RedundantFixture {};

TEST_F(RedundantClient, DealsFrontsToLinksInTurn)
{
    struct Case {
        int links, fronts;
        std::vector<Strings> want;
    };
    const Case cases[] = {
        {2, 2, {{"tcp://10.0.0.1:7000"}, {"tcp://10.0.0.2:7000"}}},
        {2, 3, {{"tcp://10.0.0.1:7000", "tcp://10.0.0.3:7000"}, {"tcp://10.0.0.2:7000"}}},
        {3, 2, {{"tcp://10.0.0.1:7000"}, {"tcp://10.0.0.2:7000"}}},
    };
    for (const Case& c : cases) {
        SetUp();
        Start(c.links, c.fronts);
        ASSERT_EQ(Links(), static_cast<int>(c.want.size())) << c.links << " links, " << c.fronts << " fronts";
        for (int k = 0; k < Links(); ++k) {
            EXPECT_EQ(Link(k).fronts, c.want[static_cast<std::size_t>(k)]);
            EXPECT_EQ(Link(k).inits, 1);
        }
        TearDown();
        api = nullptr;
    }
    EXPECT_TRUE(Logged("Init: 3 links asked for, 2 fronts registered: 2 links"));
}

TEST_F(RedundantClient, TellsTheApplicationOfTheFirstLinkUpAndTheLastDown)
{
    struct Step {
        char event; // 'u' up, 'd' down
        int link;
        int reason;
        Strings heard; // what the application hears, with reasons
    };
    const std::vector<Step> steps = {
        {'d', 1, 111, {}}, // before any link was up: link 0 reports
        {'d', 0, 111, {"FrontDisconnected 111"}},
        {'u', 1, 0, {"FrontConnected"}},
        {'u', 0, 0, {}},
        {'d', 1, 0x2002, {}}, // one of two lost: not told
        {'d', 1, 111, {}},    // its attempts while another is up
        {'d', 0, 0x2001, {"FrontDisconnected 8193"}},
        {'d', 1, 111, {}}, // link 0 was up last: it reports now
        {'d', 0, 104, {"FrontDisconnected 104"}},
        {'u', 1, 0, {"FrontConnected"}},
    };
    Start(2);
    std::size_t seen = 0;
    int i = 0;
    for (const Step& s : steps) {
        if (s.event == 'u')
            Up(s.link);
        else
            Down(s.link, s.reason);
        Strings heard;
        for (; seen < spi.events.size(); ++seen) {
            const SpiEvent& e = spi.events[seen];
            heard.push_back(e.kind == "FrontDisconnected" ? e.kind + " " + std::to_string(e.reason) : e.kind);
        }
        EXPECT_EQ(heard, s.heard) << "step " << i;
        ++i;
    }
}

TEST_F(RedundantClient, LoginIsAnsweredByTheFirstLinkToAcceptIt)
{
    Start(2);
    EXPECT_EQ(AppLogin(), -1); // no link up: sent nowhere
    Up(0);
    ASSERT_EQ(spi.Count("FrontConnected"), 1);
    EXPECT_EQ(AppLogin(7), 0);
    EXPECT_EQ(NewRequests(0), Strings({"login trader 7"}));
    // The first front refuses; the round waits for the link not up yet.
    LoginAnswer(0, 3, 7);
    EXPECT_TRUE(Link(0).released);
    EXPECT_EQ(spi.Count("RspUserLogin"), 0);
    EXPECT_EQ(spi.Count("FrontDisconnected"), 0);
    Up(1);
    EXPECT_EQ(NewRequests(1), Strings({"login trader 7"}));
    LoginAnswer(1, 0, 7);
    ASSERT_EQ(spi.Count("RspUserLogin"), 1);
    EXPECT_STREQ(spi.events.back().login.UserID, "link1");
    EXPECT_EQ(spi.events.back().info.ErrorID, 0);

    // The refused link connects again after 3 s with a client of its own,
    // and logs in with the kept copy.
    fake::World::Get().Advance(mdlink::RedundantReconnectMs);
    EXPECT_EQ(Clients(), 3);
    EXPECT_EQ(Link(0).inits, 1);
    EXPECT_EQ(Link(0).fronts, Strings({"tcp://10.0.0.1:7000"}));
    Up(0);
    EXPECT_EQ(NewRequests(0), Strings({"login trader 7"}));
    LoginAnswer(0, 0, 7);

    // Every link refuses: the first error, once all have answered; with no
    // link left the application hears of it.
    AppLogin(8);
    LoginAnswer(0, 3, 8);
    EXPECT_EQ(spi.Count("RspUserLogin"), 1);
    LoginAnswer(1, 5, 8);
    ASSERT_EQ(spi.Count("RspUserLogin"), 2);
    ASSERT_EQ(spi.events.size(), 4u);
    EXPECT_EQ(spi.events[2].info.ErrorID, 3);
    EXPECT_EQ(spi.events[3].kind, "FrontDisconnected");

    mdlink::RedundantLinkCounters c[2];
    ASSERT_EQ(redundant->GetLinkCounters(c, 2), 2);
    EXPECT_EQ(c[0].LoginsRefused, 2u);
    EXPECT_EQ(c[0].Reconnections, 1u);
    EXPECT_EQ(c[1].LoginsRefused, 1u);
    EXPECT_EQ(c[0].LoggedIn + c[0].Up, 0);
}

TEST_F(RedundantClient, NoUsableLinkLeftIsToldAtOnceWhateverTheOtherIsDoing)
{
    enum class Other { NeverConnected, Refused, LoginUnanswered };
    for (Other other : {Other::NeverConnected, Other::Refused, Other::LoginUnanswered}) {
        SetUp();
        spi.events.clear();
        Start(2);
        Up(1);
        AppLogin(1);
        LoginAnswer(1);
        if (other != Other::NeverConnected)
            Up(0); // logs in with the kept copy
        if (other == Other::Refused)
            LoginAnswer(0, 3);
        Down(1, 0x2001);
        const int c = static_cast<int>(other);
        ASSERT_EQ(spi.Count("FrontDisconnected"), 1) << c;
        EXPECT_EQ(spi.events.back().reason, 0x2001) << c;
        // Connections start again from a clean slate: the next one is told.
        if (other == Other::LoginUnanswered) {
            EXPECT_TRUE(Link(0).released) << c;
        }
        fake::World::Get().Advance(mdlink::RedundantReconnectMs);
        Up(0);
        EXPECT_EQ(spi.Count("FrontConnected"), 2) << c;
        EXPECT_EQ(NewRequests(0), Strings()) << c; // the application logs in itself
        TearDown();
        api = nullptr;
    }
}

TEST_F(RedundantClient, AnUnansweredLoginClosesTheLinkAndRefusedOnesBackOff)
{
    Start(2);
    Up(0);
    Up(1);
    AppLogin(1);
    LoginAnswer(1, 0, 1);
    ASSERT_EQ(spi.Count("RspUserLogin"), 1);
    // Link 0's front took the connection and never answers: closed at the
    // deadline, a warning said; the application, served by link 1, hears nothing.
    fake::World::Get().Advance(mdlink::RedundantLoginTimeoutMs);
    EXPECT_TRUE(Link(0).released);
    EXPECT_TRUE(Logged("link 0 [tcp://10.0.0.1:7000]: login not answered in 10000 ms: closed, "
                       "connecting again in 3000 ms"));
    EXPECT_EQ(spi.Count("FrontDisconnected"), 0);

    // A front refusing every login is tried after 3, 6, 12 s..., warned of once a minute.
    std::vector<std::uint64_t> waits;
    for (int i = 0; i < 4; ++i) {
        const int made = Clients();
        std::uint64_t waited = 0;
        while (Clients() == made && waited < 120000) {
            fake::World::Get().Advance(mdlink::CRedundantMdClient::WatchMs);
            waited += mdlink::CRedundantMdClient::WatchMs;
        }
        waits.push_back(waited);
        Up(0);
        LoginAnswer(0, 3, 1);
    }
    EXPECT_EQ(waits, std::vector<std::uint64_t>({3000, 6000, 12000, 24000}));
    // Within the minute of the timeout's warning: that one alone.
    int warnings = 0;
    for (const std::string& m : Messages())
        warnings += m.find("link 0 [tcp://10.0.0.1:7000]: login") != std::string::npos;
    EXPECT_EQ(warnings, 1);
    // Link 1 going now leaves nothing usable: the application is told at once.
    Down(1, 0x2001);
    ASSERT_EQ(spi.Count("FrontDisconnected"), 1);
    EXPECT_EQ(spi.events.back().reason, 0x2001);
}

TEST_F(RedundantClient, LinksComingUpLaterAreLoggedInAndSubscribedByTheClient)
{
    Start(2);
    Up(0);
    AppLogin(1);
    LoginAnswer(0);
    EXPECT_EQ(AppSubscribe({"au2612", "ag2612"}), 0);
    EXPECT_EQ(NewRequests(0), Strings({"login trader 1", "sub au2612,ag2612"}));
    EXPECT_EQ(NewRequests(1), Strings()); // not up: nothing sent, remembered
    SubAnswer(0, "au2612");
    SubAnswer(0, "ag2612");
    EXPECT_EQ(spi.Count("RspSubMarketData"), 2);
    Up(1);
    EXPECT_EQ(NewRequests(1), Strings({"login trader 1"}));
    LoginAnswer(1);
    EXPECT_EQ(NewRequests(1), Strings({"sub ag2612,au2612"}));
    SubAnswer(1, "ag2612");
    SubAnswer(1, "au2612");
    EXPECT_EQ(spi.Count("RspUserLogin"), 1);     // the client's own login: logged only
    EXPECT_EQ(spi.Count("RspSubMarketData"), 2); // and its own subscription
    EXPECT_EQ(spi.Count("FrontConnected"), 1);

    // The application's next subscription goes to both; each instrument is
    // answered once, by the first link, and only the last one is last.
    AppSubscribe({"cu2611", "rb2610"});
    SubAnswer(1, "cu2611", 0, 11);
    SubAnswer(0, "cu2611", 0, 21);
    SubAnswer(0, "rb2610", 0, 21);
    SubAnswer(1, "rb2610", 0, 11);
    ASSERT_EQ(spi.Count("RspSubMarketData"), 4);
    const SpiEvent& first = spi.events[spi.events.size() - 2];
    EXPECT_EQ(first.instrument, "cu2611");
    EXPECT_EQ(first.requestId, 11);
    EXPECT_FALSE(first.isLast);
    EXPECT_EQ(spi.events.back().instrument, "rb2610");
    EXPECT_EQ(spi.events.back().requestId, 21);
    EXPECT_TRUE(spi.events.back().isLast);

    // Unsubscribed ids are no longer given to a link that comes back.
    char* gone[] = {const_cast<char*>("au2612")};
    EXPECT_EQ(api->UnSubscribeMarketData(gone, 1), 0);
    Down(1);
    Up(1);
    LoginAnswer(1);
    EXPECT_EQ(NewRequests(1).back(), "sub ag2612,cu2611,rb2610");
}

TEST_F(RedundantClient, AfterATotalLossTheApplicationStartsAgain)
{
    Start(2);
    Up(0);
    AppLogin(1);
    LoginAnswer(0);
    AppSubscribe({"au2612"});
    Down(0);
    NewRequests(0);
    Up(0);
    EXPECT_EQ(spi.Count("FrontConnected"), 2);
    Up(1);
    EXPECT_EQ(NewRequests(1), Strings()); // the application logs in: no copy goes out
    EXPECT_EQ(AppLogin(2, "other"), 0);
    EXPECT_EQ(NewRequests(0), Strings({"login other 2"}));
    EXPECT_EQ(NewRequests(1), Strings({"login other 2"}));
    LoginAnswer(0, 0, 2);
    LoginAnswer(1, 0, 2);
    EXPECT_EQ(NewRequests(0), Strings()); // the old subscriptions were forgotten
    Down(1);
    Up(1);
    EXPECT_EQ(NewRequests(1), Strings({"login other 2"})); // the new copy
}

TEST_F(RedundantClient, OnlyWhatWentOutIsSubscribedAgainAndAnswersMatchByName)
{
    Start(2);
    Up(0);
    AppLogin(1);
    LoginAnswer(0);
    Down(0);                                 // a total loss
    EXPECT_EQ(AppSubscribe({"cu2611"}), -1); // refused: no link
    Up(0);
    AppLogin(2);
    LoginAnswer(0, 0, 2);
    EXPECT_EQ(AppSubscribe({"au2612", "ag2612", "rb2605"}), 0);
    NewRequests(0);
    Up(1);
    LoginAnswer(1, 0, 2);
    EXPECT_EQ(NewRequests(1), Strings({"login trader 2", "sub ag2612,au2612,rb2605"}));

    // Link 0's front skips one answer: every other answer is still its own.
    EXPECT_EQ(AppSubscribe({"a", "b", "c"}), 0);
    SubAnswer(0, "b");
    SubAnswer(0, "c");
    SubAnswer(1, "a");
    SubAnswer(1, "b");
    SubAnswer(1, "c");
    Strings answered;
    for (const SpiEvent& e : spi.events)
        if (e.kind == "RspSubMarketData")
            answered.push_back(e.instrument + (e.isLast ? " last" : ""));
    EXPECT_EQ(answered, Strings({"b", "c", "a last"}));
}

class LinkEvents : public mdlink::RedundantLinkWatcher {
public:
    void OnLinkUp(int link, const char* fronts) override
    {
        seen.push_back("up " + std::to_string(link) + " " + fronts);
    }
    void OnLinkDown(int link, const char* fronts, int reason) override
    {
        seen.push_back("down " + std::to_string(link) + " " + fronts + " " + std::to_string(reason));
    }
    Strings seen;
};

TEST_F(RedundantClient, ALinkJoiningAheadWaitsForTheHoldOnlyAndItsLossAndReturnAreTold)
{
    LinkEvents events;
    Start(2);
    redundant->RegisterLinkWatcher(&events);
    Up(0);
    Up(1);
    AppLogin(1);
    LoginAnswer(0);
    LoginAnswer(1);
    Depth(1, Record("au2612", "10:00:00", 0, 1));
    Depth(0, Record("au2612", "10:00:00", 0, 1));
    Down(0, 0x2001);
    Up(0);
    LoginAnswer(0);
    // Back and ahead of link 1: held for the hold, then delivered.
    Depth(0, Record("au2612", "10:00:02", 0, 3));
    EXPECT_EQ(spi.Count("RtnDepthMarketData"), 1);
    fake::World::Get().Advance(mdlink::DepthArbiter::HoldMs - 1);
    EXPECT_EQ(spi.Count("RtnDepthMarketData"), 1);
    fake::World::Get().Advance(1);
    ASSERT_EQ(spi.Count("RtnDepthMarketData"), 2);
    EXPECT_EQ(spi.events.back().depth.Volume, 3);
    EXPECT_EQ(events.seen,
              Strings({"up 0 tcp://10.0.0.1:7000", "up 1 tcp://10.0.0.2:7000",
                       "down 0 tcp://10.0.0.1:7000 8193", "up 0 tcp://10.0.0.1:7000"}));
    EXPECT_TRUE(Logged("link 0 [tcp://10.0.0.1:7000] lost (0x2001), 1 of 2 links usable"));
    EXPECT_TRUE(Logged("link 0 [tcp://10.0.0.1:7000] back, 2 of 2 links usable"));
    mdlink::RedundantLinkCounters c[2];
    redundant->GetLinkCounters(c, 2);
    EXPECT_EQ(c[0].Held, 1u);
    EXPECT_EQ(c[0].LoggedIn, 1);
    EXPECT_EQ(c[0].Records, 2u);
    EXPECT_EQ(c[0].LastRecordAgeMs, static_cast<long long>(mdlink::DepthArbiter::HoldMs));
}

TEST_F(RedundantClient, RequestsAnswerAsTheSingleClientDoes)
{
    Start(2);
    char* none[] = {nullptr};
    EXPECT_EQ(api->SubscribeMarketData(none, 0), -1);
    EXPECT_EQ(api->UnSubscribeMarketData(none, 0), 0);
    EXPECT_EQ(api->SubscribeForQuoteRsp(none, -1), 0);
    EXPECT_EQ(api->SubscribeMarketData(none, 1), -1);
    EXPECT_EQ(api->SubscribeMarketData(nullptr, 1), -1);
    EXPECT_EQ(AppSubscribe({"au2612"}), -1); // no link up
    Up(0);
    Link(0).result = -1;
    EXPECT_EQ(AppSubscribe({"au2612"}), -1);
    Link(0).result = 0;
    EXPECT_EQ(AppSubscribe({"au2612"}), 0); // not logged in: to the links up
    EXPECT_EQ(api->Join(), 0);
    EXPECT_EQ(api->GetTradingDay(), nullptr);
}

TEST_F(RedundantClient, RecordsAndNoticesOnceEachAndTheirCountersWritten)
{
    Start(2);
    Up(0);
    Up(1);
    const auto r1 = Record("au2612", "10:00:00", 0, 1);
    const auto r2 = Record("au2612", "10:00:00", 500, 2);
    Depth(0, r1);
    Depth(1, r1);
    Depth(1, r2);
    Depth(0, r2);
    Depth(0, r1);
    ASSERT_EQ(spi.Count("RtnDepthMarketData"), 2);
    EXPECT_EQ(spi.events.back().depth.Volume, 2);
    Notice(1, "17");
    Notice(0, "17");
    Notice(0, "18");
    EXPECT_EQ(spi.Count("RtnForQuoteRsp"), 2);

    mdlink::RedundantLinkCounters c[mdlink::RedundantMaxLinks];
    ASSERT_EQ(redundant->GetLinkCounters(c, mdlink::RedundantMaxLinks), 2);
    EXPECT_STREQ(c[0].Fronts, "tcp://10.0.0.1:7000");
    EXPECT_EQ(c[0].Up, 1);
    EXPECT_EQ(c[0].First, 1u);
    EXPECT_EQ(c[0].Copies, 1u);
    EXPECT_EQ(c[0].Older, 1u);
    EXPECT_EQ(c[1].First, 1u);
    EXPECT_EQ(c[1].Copies, 1u);
    EXPECT_EQ(c[1].NoticesFirst, 1u);
    EXPECT_EQ(c[0].NoticeCopies, 1u);
    EXPECT_EQ(c[0].Connects, 1u);

    // Written once a minute and at Release.
    fake::World::Get().Advance(60000);
    int records = 0;
    for (const std::string& m : Messages())
        records += m.rfind("link 0 [tcp://10.0.0.1:7000] connected: connects 1, losses 0, logins refused 0, "
                           "unanswered 0; depth records 3, first 1, copies 1 (late 0), older 1, held 0;",
                           0) == 0;
    EXPECT_EQ(records, 1);
    api->Release();
    api = nullptr;
    EXPECT_TRUE(Logged("Release: 2 links, 0 usable, 1 instruments, hold 300 ms"));
}

TEST_F(RedundantClient, LogRecordsTakeTheSingleClientsLayoutAndLimitUnderTheirOwnModule)
{
#if defined(_WIN32)
    const std::size_t kept = 2000;
#else
    const std::size_t kept = 1999;
#endif
    Start(2);
    auto& client = static_cast<mdlink::CRedundantMdClient&>(*redundant);
    const std::string prefix = "<war>[ KVMDLinks][       Links] - ";
    for (const std::size_t length : {std::size_t{1}, kept, std::size_t{3000}}) {
        client.WriteLog(2, "Links", "%s", std::string(length, 'm').c_str());
        const std::string text = fake::World::Get().Texts().back();
        ASSERT_EQ(text.substr(0, prefix.size()), prefix) << length;
        EXPECT_EQ(text.size() - prefix.size(), std::min(length, kept)) << length;
    }
}

TEST_F(RedundantClient, RecordsAllocateNothingOnceTheirInstrumentsAreKnown)
{
    struct Counting : CThostFtdcMdSpi {
        void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField*) override { ++records; }
        int records = 0;
    } counting;
    Start(2);
    Up(0);
    Up(1);
    api->RegisterSpi(&counting);
    std::vector<CThostFtdcDepthMarketDataField> records;
    for (int i = 0; i < 200; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "in%d", i % 20);
        records.push_back(Record(id, "10:00:00", i, i));
    }
    for (int i = 0; i < 20; ++i)
        Link(0).spi->OnRtnDepthMarketData(&records[static_cast<std::size_t>(i)]);
    StartCountingAllocations();
    for (std::size_t i = 20; i < records.size(); ++i) {
        Link(0).spi->OnRtnDepthMarketData(&records[i]);
        Link(1).spi->OnRtnDepthMarketData(&records[i]);
    }
    EXPECT_EQ(StopCountingAllocations(), 0);
    EXPECT_EQ(counting.records, 200);
}

TEST_F(RedundantClient, ACallbackThatThrowsCostsNoRecordBehindIt)
{
    Start(2);
    Up(0);
    Up(1);
    spi.onEvent = [](const SpiEvent& e) {
        if (e.kind == "RtnDepthMarketData")
            throw std::runtime_error("bad tick");
    };
    Depth(0, Record("au2612", "10:00:00", 0, 1));
    // Link 1 joins ahead: 3 and 4 are held until link 0 goes.
    Depth(1, Record("au2612", "10:00:00", 0, 3));
    Depth(1, Record("au2612", "10:00:00", 0, 4));
    EXPECT_EQ(spi.Count("RtnDepthMarketData"), 1);
    Down(0);
    ASSERT_EQ(spi.Count("RtnDepthMarketData"), 3);
    EXPECT_EQ(spi.events.back().depth.Volume, 4);
    int records = 0;
    for (const std::string& m : Messages())
        records += m == "OnRtnDepthMarketData threw: bad tick (1 since the last record)";
    EXPECT_EQ(records, 3);
}

TEST_F(RedundantClient, ReleaseInsideACallbackEndsEveryLinkAndCallsBackNoMore)
{
    Start(2);
    Up(0);
    Up(1);
    spi.onEvent = [this](const SpiEvent& e) {
        if (e.kind == "RtnDepthMarketData")
            api->Release();
    };
    Depth(0, Record("au2612", "10:00:00", 0, 1));
    EXPECT_TRUE(Link(0).released);
    EXPECT_TRUE(Link(1).released);
    Depth(1, Record("au2612", "10:00:01", 0, 2)); // in flight on the loop: not delivered
    EXPECT_EQ(spi.Count("RtnDepthMarketData"), 1);
    EXPECT_EQ(fake::World::Get().posted.size(), 1u); // the client itself goes after the callback
    api = nullptr;
}

TEST_F(RedundantClient, ReleaseAndRegisterSpiFromAnotherThreadGoThroughTheLoop)
{
    Start(2);
    const int calls = fake::World::Get().loopCalls;
    RecordingSpi other;
    api->RegisterSpi(&other);
    Up(0);
    EXPECT_EQ(other.Count("FrontConnected"), 1);
    EXPECT_EQ(spi.Count("FrontConnected"), 0);
    api->Release();
    api = nullptr;
    EXPECT_EQ(fake::World::Get().loopCalls, calls + 2);
    EXPECT_TRUE(Link(0).released);
    EXPECT_TRUE(fake::World::Get().posted.empty());
}

// In a forked child the client is the parent's: nothing goes out on its
// links, its calls do not take its session lock, Release frees the links.
TEST_F(RedundantClient, InheritedAcrossForkItIsInert)
{
    Start(2);
    Up(0);
    AppLogin();
    LoginAnswer(0);
    const std::size_t sent = Link(0).requests.size();
    fake::World::Get().forkGeneration++;
    const int calls = fake::World::Get().loopCalls;
    EXPECT_EQ(AppSubscribe({"au2612"}), -1);
    EXPECT_EQ(AppLogin(), -1);
    mdlink::RedundantLinkCounters counters[2];
    EXPECT_EQ(redundant->GetLinkCounters(counters, 2), 0);
    api->Release();
    api = nullptr;
    EXPECT_EQ(Link(0).requests.size(), sent);
    EXPECT_EQ(fake::World::Get().loopCalls, calls);
    EXPECT_TRUE(Link(0).released);
    EXPECT_TRUE(Link(1).released);
}

} // namespace
} // namespace test
