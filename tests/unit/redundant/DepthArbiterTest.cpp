// The arbitration's pure parts: the "older" rule, the arbiter on a fake
// pair of links and a virtual clock, the for-quote window and the links
// setting.
#include "DepthArbiter.h"
#include "DepthOrder.h"
#include "ForQuoteWindow.h"
#include "LinksSetting.h"
#include "RedundantSupport.h"
#include "SessionMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace test {
namespace {

using mdlink::DepthAge;
using Verdict = mdlink::DepthArbiter::Verdict;

TEST(DepthOrder, OlderNewerOrSame)
{
    struct Case {
        const char* what;
        CThostFtdcDepthMarketDataField candidate, last;
        DepthAge want;
    };
    CThostFtdcDepthMarketDataField noDay = Record("a", "10:00:00", 0, 5, 1, "");
    std::strcpy(noDay.ActionDay, "20261209");
    const Case cases[] = {
        {"a later time", Record("a", "10:00:01", 0, 1), Record("a", "10:00:00", 0, 9), DepthAge::Newer},
        {"an earlier time", Record("a", "10:00:00", 0, 9), Record("a", "10:00:00", 500, 1), DepthAge::Older},
        {"past midnight in a night session", Record("a", "00:00:00", 0, 1), Record("a", "23:59:59", 500, 9),
         DepthAge::Newer},
        {"before midnight after it", Record("a", "23:59:59", 500, 9), Record("a", "00:00:01", 0, 1),
         DepthAge::Older},
        {"day session after the night's end", Record("a", "09:00:00", 0, 1), Record("a", "02:30:00", 0, 9),
         DepthAge::Newer},
        {"just under 12 hours on", Record("a", "21:59:59", 999, 1), Record("a", "10:00:00", 0, 9),
         DepthAge::Newer},
        {"12 hours on reads as before", Record("a", "22:00:00", 0, 1), Record("a", "10:00:00", 0, 9),
         DepthAge::Older},
        {"a later trading day", Record("a", "21:00:00", 0, 1, 1, "20261209"), Record("a", "15:00:00", 0, 9),
         DepthAge::Newer},
        {"an earlier trading day", Record("a", "15:00:00", 0, 9),
         Record("a", "21:00:00", 0, 1, 1, "20261209"), DepthAge::Older},
        {"same time, more volume", Record("a", "10:00:00", 0, 6), Record("a", "10:00:00", 0, 5),
         DepthAge::Newer},
        {"same time, less volume", Record("a", "10:00:00", 0, 4), Record("a", "10:00:00", 0, 5),
         DepthAge::Older},
        {"same time and volume", Record("a", "10:00:00", 0, 5, 2.0), Record("a", "10:00:00", 0, 5),
         DepthAge::Same},
        {"unreadable time: volume decides", Record("a", "10-00-00", 0, 6), Record("a", "11:00:00", 0, 5),
         DepthAge::Newer},
        {"no trading day: ActionDay is the day", noDay, Record("a", "11:00:00", 0, 9, 1, "20261208"),
         DepthAge::Newer},
        {"millis out of range read as 0", Record("a", "10:00:00", 1500, 5), Record("a", "10:00:00", 0, 5),
         DepthAge::Same},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mdlink::CompareDepth(mdlink::StampOf(c.candidate), mdlink::StampOf(c.last)), c.want)
            << c.what;
    const mdlink::DepthStamp s = mdlink::StampOf(Record("a", "21:30:05", 250, 7, 1, "20261209"));
    EXPECT_EQ(s.day, 20261209u);
    EXPECT_EQ(s.timeMs, ((21 * 60 + 30) * 60 + 5) * 1000 + 250);
    EXPECT_EQ(mdlink::StampOf(Record("a", "21:30:05", 0, 7, 1, "2026120x")).day, 0u);
}

std::uint64_t g_now = 0;
std::uint64_t FakeNow()
{
    return g_now;
}

struct Offer {
    int link;
    CThostFtdcDepthMarketDataField record;
    Verdict want;
    std::uint32_t atMs = 0; // the loop's tick when it comes
};

TEST(DepthArbiter, FirstCopyOrOlder)
{
    const auto r1 = Record("au", "10:00:00", 0, 1);
    const auto r2 = Record("au", "10:00:00", 500, 2);
    const auto r2b = Record("au", "10:00:00", 500, 2, 101.0); // stamped like r2, different
    const auto r3 = Record("au", "10:00:01", 0, 3);
    const auto ag = Record("ag", "10:00:00", 0, 1);
    const auto night = Record("au", "23:59:59", 500, 50);
    const auto morning = Record("au", "00:00:00", 0, 51);
    const auto r1Later = Record("au", "10:00:00", 0, 1, 100.0, "20261209"); // r1 labelled a day on
    const auto r3Later = Record("au", "10:00:01", 0, 3, 100.0, "20261209");
    struct Scenario {
        const char* what;
        std::vector<Offer> offers;
    };
    const Scenario scenarios[] = {
        {"the copy of the other link is dropped",
         {{0, r1, Verdict::First}, {1, r1, Verdict::Copy}, {1, r2, Verdict::First}, {0, r2, Verdict::Copy}}},
        {"an older record from another link is dropped, the newer one delivered",
         {{0, r2, Verdict::First}, {1, r1, Verdict::Older}, {1, r3, Verdict::First}}},
        {"records stamped alike are all delivered, late copies of either known",
         {{0, r2, Verdict::First},
          {0, r2b, Verdict::First},
          {1, r2, Verdict::Copy},
          {1, r2b, Verdict::Copy},
          {1, r3, Verdict::First},
          {0, r3, Verdict::Copy}}},
        {"a front repeating a record has it delivered as often",
         {{0, r1, Verdict::First},
          {0, r1, Verdict::First},
          {1, r1, Verdict::Copy},
          {1, r1, Verdict::Copy},
          {1, r1, Verdict::First}}},
        {"the leading link going back in time is followed; the other's copies stay copies",
         {{0, r1, Verdict::First},
          {0, r3, Verdict::First},
          {0, r1, Verdict::First},
          {1, r1, Verdict::Copy},
          {1, r3, Verdict::Copy},
          {1, r1, Verdict::Copy},
          {0, r2, Verdict::First}}},
        {"instruments are arbitrated apart",
         {{0, r3, Verdict::First}, {1, ag, Verdict::First}, {0, ag, Verdict::Copy}}},
        {"midnight in a night session",
         {{0, night, Verdict::First},
          {1, night, Verdict::Copy},
          {1, morning, Verdict::First},
          {0, morning, Verdict::Copy}}},
        {"fronts labelling one feed with different days bring copies, whichever leads",
         {{0, r1, Verdict::First},
          {1, r1Later, Verdict::Copy},
          {1, r3Later, Verdict::First},
          {0, r3, Verdict::Copy}}},
        {"a copy older than the window is older",
         {{0, r1, Verdict::First, 0}, {0, r3, Verdict::First, 10}, {1, r1, Verdict::Older, 3000}}},
    };
    for (const Scenario& s : scenarios) {
        mdlink::DepthArbiter arbiter(2, &FakeNow);
        int i = 0;
        for (const Offer& o : s.offers) {
            EXPECT_EQ(arbiter.Offer(o.link, o.record, o.atMs), o.want) << s.what << ", offer " << i;
            ++i;
        }
    }
}

// Volumes let go since the last look.
std::vector<int> Released(mdlink::DepthArbiter& arbiter)
{
    std::vector<int> out;
    while (const CThostFtdcDepthMarketDataField* r = arbiter.NextReleased())
        out.push_back(r->Volume);
    return out;
}

CThostFtdcDepthMarketDataField Slot(int n, const char* day = "20261208")
{
    return Record("au", "10:00:00", 0, n, 100.0, day);
}

TEST(DepthArbiter, ALinkBackAheadOfTheOthersWaitsForThem)
{
    mdlink::DepthArbiter arbiter(2, &FakeNow);
    EXPECT_EQ(arbiter.Offer(0, Slot(1), 0), Verdict::First);
    EXPECT_EQ(arbiter.Offer(1, Slot(1), 0), Verdict::Copy);
    arbiter.LinkDown(0);
    EXPECT_EQ(arbiter.Offer(1, Slot(2), 0), Verdict::First);
    // Back, with 4 and 5 while 3 is still on its way over link 1: held.
    EXPECT_EQ(arbiter.Offer(0, Slot(4), 1), Verdict::Held);
    EXPECT_EQ(arbiter.Offer(0, Slot(5), 1), Verdict::Held);
    EXPECT_TRUE(arbiter.Holding());
    EXPECT_EQ(arbiter.Offer(1, Slot(3), 2), Verdict::First);
    EXPECT_TRUE(Released(arbiter).empty());
    // Link 1 delivers 4, which link 0 holds: what link 0 holds after it follows.
    EXPECT_EQ(arbiter.Offer(1, Slot(4), 3), Verdict::First);
    EXPECT_EQ(Released(arbiter), std::vector<int>({5}));
    EXPECT_FALSE(arbiter.Holding());
    EXPECT_EQ(arbiter.Offer(1, Slot(5), 4), Verdict::Copy);
    EXPECT_EQ(arbiter.Offer(0, Slot(6), 5), Verdict::First); // in step again, leading
    EXPECT_EQ(arbiter.CountersOf(0).held, 2u);

    // Back again and ahead, then the other link goes: what it held is delivered.
    arbiter.LinkDown(0);
    EXPECT_EQ(arbiter.Offer(1, Slot(6), 6), Verdict::Copy);
    EXPECT_EQ(arbiter.Offer(0, Slot(8), 6), Verdict::Held);
    EXPECT_EQ(arbiter.Offer(0, Slot(9), 6), Verdict::Held);
    arbiter.LinkDown(1);
    EXPECT_EQ(Released(arbiter), std::vector<int>({8, 9}));
    EXPECT_EQ(arbiter.Offer(0, Slot(10), 7), Verdict::First);

    // A joining link that turns out to be behind follows at once.
    EXPECT_EQ(arbiter.Offer(1, Slot(9), 8), Verdict::Copy);
    EXPECT_EQ(arbiter.Offer(1, Slot(11), 9), Verdict::First);
}

TEST(DepthArbiter, AJoiningLinkWaitsNoLongerThanTheHold)
{
    mdlink::DepthArbiter arbiter(2, &FakeNow);
    arbiter.Offer(1, Slot(1), 0);
    arbiter.Offer(0, Slot(1), 0);
    arbiter.LinkDown(0);
    const std::uint32_t hold = mdlink::DepthArbiter::HoldMs;
    for (int n = 0; n < 40; ++n)
        EXPECT_EQ(arbiter.Offer(0, Slot(10 + n), 100 + static_cast<std::uint32_t>(n)), Verdict::Held);
    EXPECT_EQ(arbiter.NextDueMs(), 100 + hold);
    arbiter.Expire(100 + hold - 1);
    EXPECT_TRUE(Released(arbiter).empty());
    arbiter.Expire(100 + hold);
    const std::vector<int> released = Released(arbiter);
    ASSERT_EQ(released.size(), 40u); // the link's whole run, in order, once the first is due
    EXPECT_EQ(released.front(), 10);
    EXPECT_EQ(released.back(), 49);
    EXPECT_FALSE(arbiter.Holding());
    EXPECT_EQ(arbiter.Offer(1, Slot(2), 500), Verdict::Older);
}

TEST(DepthArbiter, ALinkBringingOnlyOlderRecordsIsFollowedOnceNothingElseComes)
{
    // The leading front served a later trading day and is gone; the other
    // serves the day before.
    mdlink::DepthArbiter arbiter(2, &FakeNow);
    EXPECT_EQ(arbiter.Offer(0, Slot(5, "20261210"), 0), Verdict::First);
    arbiter.LinkDown(0);
    std::uint32_t t = 10;
    for (; t < mdlink::DepthArbiter::FollowMs + 10; t += 50)
        EXPECT_EQ(arbiter.Offer(1, Slot(static_cast<int>(t), "20261209"), t), Verdict::Older) << t;
    EXPECT_EQ(arbiter.Offer(1, Slot(static_cast<int>(t), "20261209"), t), Verdict::First);
    EXPECT_EQ(arbiter.Offer(1, Slot(static_cast<int>(t) + 1, "20261209"), t + 50), Verdict::First);

    // A link lagging within the day past the window is never followed, however
    // long nothing else comes: what it brings was delivered long ago.
    mdlink::DepthArbiter lagging(2, &FakeNow);
    for (int n = 1; n <= 10; ++n)
        lagging.Offer(0, Slot(n), static_cast<std::uint32_t>(n));
    lagging.LinkDown(0);
    for (std::uint32_t ms = 3000; ms < 6000; ms += 100)
        EXPECT_EQ(lagging.Offer(1, Slot(static_cast<int>(ms / 1000)), ms), Verdict::Older) << ms;

    // While another link keeps delivering, older records stay dropped.
    mdlink::DepthArbiter busy(2, &FakeNow);
    for (std::uint32_t ms = 0; ms < 3000; ms += 50) {
        EXPECT_EQ(busy.Offer(0, Slot(static_cast<int>(ms) + 1000, "20261210"), ms), Verdict::First);
        const auto other = Record("au", "10:00:00", 0, static_cast<int>(ms), 99.0, "20261209");
        EXPECT_EQ(busy.Offer(1, other, ms), Verdict::Older);
    }
}

class NoteBook : public mdlink::ArbiterNotes {
public:
    void Note(Kind kind, int link, const char* instrument, std::uint64_t count) override
    {
        static const char* const names[] = {"back", "followed", "older"};
        lines.push_back(std::string(names[static_cast<int>(kind)]) + " " + std::to_string(link) + " " +
                        instrument + " " + std::to_string(count));
    }
    std::vector<std::string> lines;
};

TEST(DepthArbiter, StepsBackAndDropsAreToldOncePerInstrumentAndMinute)
{
    NoteBook notes;
    mdlink::DepthArbiter arbiter(2, &FakeNow, &notes);
    arbiter.Offer(0, Slot(10), 0);
    arbiter.Offer(1, Slot(3), 1);
    arbiter.Offer(1, Slot(4), 2);
    arbiter.Offer(0, Slot(2), 3); // the leading link goes back
    arbiter.Offer(0, Slot(1), 4);
    arbiter.Offer(1, Slot(0), 60001);
    EXPECT_EQ(notes.lines, std::vector<std::string>({"older 1 au 1", "back 0 au 0", "older 1 au 2"}));
}

TEST(DepthArbiter, CountsAndLateness)
{
    mdlink::DepthArbiter arbiter(2, &FakeNow);
    g_now = 1000000;
    // A lag of 120 us, then of 20 ms: buckets [100, 300) and [10000, 30000).
    const std::uint64_t lags[] = {120000, 20000000};
    for (int i = 0; i < 2; ++i) {
        const auto r = Record("au", "10:00:00", 0, i + 1);
        g_now += 2000000;
        arbiter.Offer(0, r, static_cast<std::uint32_t>(i));
        g_now += lags[i];
        arbiter.Offer(1, r, static_cast<std::uint32_t>(i));
    }
    // Within one tick only the first record is timed.
    const auto r3 = Record("au", "10:00:01", 0, 3);
    const auto r4 = Record("au", "10:00:01", 0, 4);
    arbiter.Offer(0, r3, 1);
    arbiter.Offer(0, r4, 1);
    arbiter.Offer(1, r3, 1);
    arbiter.Offer(1, r4, 1);
    arbiter.Offer(1, Record("au", "09:00:00", 0, 9), 0);
    const mdlink::ArbiterCounters& lag = arbiter.CountersOf(1);
    EXPECT_EQ(lag.lateTimed, 2u);
    EXPECT_EQ(lag.late[3], 1u);
    EXPECT_EQ(lag.late[7], 1u);
    EXPECT_EQ(lag.lateMaxNs, 20000000u);
    EXPECT_EQ(lag.records, 5u);
    EXPECT_EQ(lag.older, 1u);

    // A copy of a record 8 or more deliveries back is a late copy, not older.
    mdlink::DepthArbiter late(2, &FakeNow);
    for (int n = 1; n <= 20; ++n)
        late.Offer(0, Slot(n), static_cast<std::uint32_t>(n));
    EXPECT_EQ(late.Offer(1, Slot(3), 30), Verdict::Copy);
    EXPECT_EQ(late.Offer(1, Slot(19), 31), Verdict::Copy);
    EXPECT_EQ(late.CountersOf(1).copies, 2u);
    EXPECT_EQ(late.CountersOf(1).lateCopies, 1u);
}

TEST(InstrumentKey, TextPastTheTerminatorDoesNotCount)
{
    char a[31] = "au2612";
    char b[31] = "au2612";
    b[10] = 'x';
    EXPECT_EQ(mdlink::InstrumentKey::Of(a), mdlink::InstrumentKey::Of(b));
    b[2] = '3';
    EXPECT_FALSE(mdlink::InstrumentKey::Of(a) == mdlink::InstrumentKey::Of(b));
}

TEST(ForQuoteWindow, OncePerSysIdWithinTheWindow)
{
    mdlink::ForQuoteWindow window;
    CThostFtdcForQuoteRspField q{};
    std::strcpy(q.InstrumentID, "au2612");
    std::strcpy(q.ForQuoteSysID, "17");
    EXPECT_TRUE(window.Admit(q));
    EXPECT_FALSE(window.Admit(q));
    std::strcpy(q.InstrumentID, "ag2612"); // another instrument's 17
    EXPECT_TRUE(window.Admit(q));
    for (int i = 0; i < static_cast<int>(mdlink::ForQuoteWindow::Window); ++i) {
        std::snprintf(q.ForQuoteSysID, sizeof q.ForQuoteSysID, "n%d", i);
        EXPECT_TRUE(window.Admit(q));
    }
    std::strcpy(q.ForQuoteSysID, "17"); // out of the window: news again
    EXPECT_TRUE(window.Admit(q));
}

TEST(SessionMemory, TheLoginCopyIsOverwrittenWhenForgotten)
{
    mdlink::SessionMemory memory;
    CThostFtdcReqUserLoginField login{};
    std::strcpy(login.UserID, "trader");
    std::strcpy(login.Password, "secret");
    memory.KeepLogin(&login, 7);
    CThostFtdcReqUserLoginField* kept = memory.Login();
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept->Password, "secret");
    memory.ForgetLogin();
    EXPECT_FALSE(memory.HasLogin());
    EXPECT_EQ(memory.Login(), nullptr);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(kept);
    EXPECT_EQ(std::count(bytes, bytes + sizeof *kept, 0), static_cast<long>(sizeof *kept));
}

TEST(LinksSetting, ADecimalNumberWithBlanksAround)
{
    using What = mdlink::LinksReading::What;
    struct Case {
        const char* text;
        What what;
        int links;
    };
    const Case cases[] = {
        {nullptr, What::Unset, 1},
        {"", What::Unset, 1},
        {"  ", What::Unset, 1},
        {"1", What::Links, 1},
        {"2", What::Links, 2},
        {"02", What::Links, 2},
        {"2 ", What::Links, 2},
        {" 2", What::Links, 2},
        {"\t8\n", What::Links, 8},
        {"9", What::AboveMost, 8},
        {"99999999999999999999", What::AboveMost, 8},
        {"+2", What::Unreadable, 1},
        {"2x", What::Unreadable, 1},
        {"abc", What::Unreadable, 1},
        {"-1", What::Unreadable, 1},
        {"0", What::Unreadable, 1},
        {"2 2", What::Unreadable, 1},
    };
    for (const Case& c : cases) {
        const mdlink::LinksReading r = mdlink::ReadLinks(c.text);
        EXPECT_EQ(r.what, c.what) << (c.text ? c.text : "(unset)");
        EXPECT_EQ(r.links, c.links) << (c.text ? c.text : "(unset)");
    }
}

} // namespace
} // namespace test
