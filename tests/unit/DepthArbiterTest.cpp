// The arbitration's pure parts: the "older" rule, the arbiter on a fake
// pair of links, the instrument table's bound, the for-quote window and the
// MDLINK_LINKS setting.
#include "DepthArbiter.h"
#include "DepthOrder.h"
#include "ForQuoteWindow.h"
#include "InstrumentTable.h"
#include "LinksSetting.h"
#include "RedundantSupport.h"

#include <gtest/gtest.h>

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
        {"past midnight in a night session", Record("a", "00:00:00", 0, 1),
         Record("a", "23:59:59", 500, 9), DepthAge::Newer},
        {"before midnight after it", Record("a", "23:59:59", 500, 9), Record("a", "00:00:01", 0, 1),
         DepthAge::Older},
        {"day session after the night's end", Record("a", "09:00:00", 0, 1),
         Record("a", "02:30:00", 0, 9), DepthAge::Newer},
        {"just under 12 hours on", Record("a", "21:59:59", 999, 1), Record("a", "10:00:00", 0, 9),
         DepthAge::Newer},
        {"12 hours on reads as before", Record("a", "22:00:00", 0, 1), Record("a", "10:00:00", 0, 9),
         DepthAge::Older},
        {"a later trading day", Record("a", "21:00:00", 0, 1, 1, "20261209"),
         Record("a", "15:00:00", 0, 9), DepthAge::Newer},
        {"an earlier trading day", Record("a", "15:00:00", 0, 9), Record("a", "21:00:00", 0, 1, 1, "20261209"),
         DepthAge::Older},
        {"same time, more volume", Record("a", "10:00:00", 0, 6), Record("a", "10:00:00", 0, 5), DepthAge::Newer},
        {"same time, less volume", Record("a", "10:00:00", 0, 4), Record("a", "10:00:00", 0, 5), DepthAge::Older},
        {"same time and volume", Record("a", "10:00:00", 0, 5, 2.0), Record("a", "10:00:00", 0, 5), DepthAge::Same},
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
    struct Scenario {
        const char* what;
        std::vector<Offer> offers;
    };
    const Scenario scenarios[] = {
        {"the copy of the other link is dropped",
         {{0, r1, Verdict::First}, {1, r1, Verdict::Copy}, {1, r2, Verdict::First}, {0, r2, Verdict::Copy}}},
        {"an older record is dropped, the newer one delivered",
         {{0, r2, Verdict::First}, {1, r1, Verdict::Older}, {1, r3, Verdict::First}}},
        {"records stamped alike are all delivered, late copies of either known",
         {{0, r2, Verdict::First}, {0, r2b, Verdict::First}, {1, r2, Verdict::Copy},
          {1, r2b, Verdict::Copy}, {1, r3, Verdict::First}, {0, r3, Verdict::Copy}}},
        {"a front repeating a record has it delivered as often",
         {{0, r1, Verdict::First}, {0, r1, Verdict::First}, {1, r1, Verdict::Copy},
          {1, r1, Verdict::Copy}, {1, r1, Verdict::First}}},
        {"a repeat after newer records is older",
         {{0, r1, Verdict::First}, {0, r2, Verdict::First}, {0, r1, Verdict::Older}}},
        {"instruments are arbitrated apart",
         {{0, r3, Verdict::First}, {1, ag, Verdict::First}, {0, ag, Verdict::Copy}}},
        {"midnight in a night session",
         {{0, night, Verdict::First}, {1, night, Verdict::Copy}, {1, morning, Verdict::First},
          {0, morning, Verdict::Copy}}},
    };
    for (const Scenario& s : scenarios) {
        mdlink::DepthArbiter arbiter(2, &FakeNow);
        int i = 0;
        for (const Offer& o : s.offers) {
            EXPECT_EQ(arbiter.Offer(o.link, o.record), o.want) << s.what << ", offer " << i;
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

CThostFtdcDepthMarketDataField Slot(int n)
{
    return Record("au", "10:00:00", 0, n);
}

TEST(DepthArbiter, ALinkBackAheadOfTheOthersWaitsForThem)
{
    mdlink::DepthArbiter arbiter(2, &FakeNow);
    EXPECT_EQ(arbiter.Offer(0, Slot(1)), Verdict::First);
    EXPECT_EQ(arbiter.Offer(1, Slot(1)), Verdict::Copy);
    arbiter.LinkDown(0);
    EXPECT_EQ(arbiter.Offer(1, Slot(2)), Verdict::First);
    // Back, with 4 and 5 while 3 is still on its way over link 1: held.
    EXPECT_EQ(arbiter.Offer(0, Slot(4)), Verdict::Held);
    EXPECT_EQ(arbiter.Offer(0, Slot(5)), Verdict::Held);
    EXPECT_EQ(arbiter.Offer(1, Slot(3)), Verdict::First);
    EXPECT_TRUE(Released(arbiter).empty());
    // Link 1 delivers 4, which link 0 holds: what link 0 holds after it follows.
    EXPECT_EQ(arbiter.Offer(1, Slot(4)), Verdict::First);
    EXPECT_EQ(Released(arbiter), std::vector<int>({5}));
    EXPECT_EQ(arbiter.Offer(1, Slot(5)), Verdict::Copy);
    EXPECT_EQ(arbiter.Offer(0, Slot(6)), Verdict::First); // in step again, leading
    EXPECT_EQ(arbiter.CountersOf(0).held, 2u);

    // Back again and ahead, then the other link goes: what it held is delivered.
    arbiter.LinkDown(0);
    EXPECT_EQ(arbiter.Offer(1, Slot(6)), Verdict::Copy);
    EXPECT_EQ(arbiter.Offer(0, Slot(8)), Verdict::Held);
    EXPECT_EQ(arbiter.Offer(0, Slot(9)), Verdict::Held);
    arbiter.LinkDown(1);
    EXPECT_EQ(Released(arbiter), std::vector<int>({8, 9}));
    EXPECT_EQ(arbiter.Offer(0, Slot(10)), Verdict::First);

    // A joining link that turns out to be behind follows at once.
    EXPECT_EQ(arbiter.Offer(1, Slot(9)), Verdict::Copy);
    EXPECT_EQ(arbiter.Offer(1, Slot(11)), Verdict::First);
}

TEST(DepthArbiter, AJoiningLinkTooFarAheadStopsWaiting)
{
    mdlink::DepthArbiter arbiter(2, &FakeNow);
    arbiter.Offer(1, Slot(1));
    const int ahead = mdlink::DepthArbiter::HeldPerInstrument;
    for (int n = 0; n < ahead; ++n)
        EXPECT_EQ(arbiter.Offer(0, Slot(10 + n)), Verdict::Held);
    EXPECT_EQ(arbiter.Offer(0, Slot(10 + ahead)), Verdict::Held);
    const std::vector<int> released = Released(arbiter);
    ASSERT_EQ(released.size(), static_cast<std::size_t>(ahead + 1));
    EXPECT_EQ(released.front(), 10);
    EXPECT_EQ(released.back(), 10 + ahead);
    EXPECT_EQ(arbiter.Offer(1, Slot(2)), Verdict::Older);
}

TEST(DepthArbiter, CountsAndLateness)
{
    mdlink::DepthArbiter arbiter(2, &FakeNow);
    g_now = 1000000;
    // A lag of 120 us, then of 20 ms: buckets [100, 300) and [10000, 30000).
    const std::uint64_t lags[] = {120000, 20000000};
    for (int i = 0; i < 2; ++i) {
        const auto r = Record("au", "10:00:00", 0, i + 1);
        g_now += 2000000; // far apart: every record is timed
        arbiter.Offer(0, r);
        g_now += lags[i];
        arbiter.Offer(1, r);
    }
    arbiter.Offer(1, Record("au", "09:00:00", 0, 9));
    const mdlink::ArbiterCounters& lag = arbiter.CountersOf(1);
    EXPECT_EQ(lag.lateTimed, 2u);
    EXPECT_EQ(lag.late[3], 1u);
    EXPECT_EQ(lag.late[7], 1u);
    EXPECT_EQ(lag.lateMaxNs, 20000000u);
}

TEST(DepthArbiter, TimesFewerRecordsAsTheyComeFaster)
{
    mdlink::DepthArbiter arbiter(2, &FakeNow);
    g_now = 1;
    int timed = 0;
    for (int i = 1; i <= 200; ++i) {
        g_now += 1000; // 1 us apart
        const auto r = Record("au", "10:00:00", 0, i);
        arbiter.Offer(0, r);
        const std::uint64_t before = arbiter.CountersOf(1).lateTimed;
        arbiter.Offer(1, r);
        timed += static_cast<int>(arbiter.CountersOf(1).lateTimed - before);
    }
    EXPECT_EQ(arbiter.SampleEvery(), mdlink::DepthArbiter::MaxSampleEvery);
    EXPECT_GT(timed, 0);
    EXPECT_LT(timed, 20);
    g_now += 10000000; // a pause: the next record timed finds it, and the period halves
    for (int i = 0; i <= 32 && arbiter.SampleEvery() == mdlink::DepthArbiter::MaxSampleEvery; ++i)
        arbiter.Offer(0, Record("au", "10:00:01", 0, 1000 + i));
    EXPECT_EQ(arbiter.SampleEvery(), mdlink::DepthArbiter::MaxSampleEvery / 2);
}

TEST(InstrumentTable, GrowsThenStaysBounded)
{
    mdlink::InstrumentTable<int> table(64, 8);
    char id[31] = {};
    for (int i = 0; i < 1000; ++i) {
        std::snprintf(id, sizeof id, "id%d", i);
        bool fresh = false;
        table.Find(mdlink::InstrumentKey::Of(id), fresh) = i;
        EXPECT_TRUE(fresh);
    }
    EXPECT_EQ(table.Capacity(), 64u);
    EXPECT_LE(table.Size(), 64u);
    EXPECT_EQ(table.Evictions() + table.Size(), 1000u);
    // The last one in is there, with its value, and stays found.
    bool fresh = true;
    EXPECT_EQ(table.Find(mdlink::InstrumentKey::Of(id), fresh), 999);
    EXPECT_FALSE(fresh);
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

TEST(LinksSetting, OnlyANumberFromTwoOn)
{
    const std::pair<const char*, int> cases[] = {
        {nullptr, 1}, {"", 1}, {"0", 1}, {"1", 1}, {"2", 2}, {"02", 2}, {"8", 8}, {"12", 12},
        {"2x", 1}, {" 2", 1}, {"-2", 1}, {"two", 1}, {"99999999999", 1000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mdlink::LinksFromText(c.first), c.second) << (c.first ? c.first : "(unset)");
}

} // namespace
} // namespace test
