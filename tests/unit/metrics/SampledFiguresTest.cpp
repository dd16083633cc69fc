// The figures the metrics thread samples: the feed lag on the 24-hour
// circle, the exchanges it is kept for and the zone it is read in; the
// loop's stall probe; the subscribed instruments' staleness.
#include "metrics/FeedLag.h"
#include "metrics/InstrumentAges.h"
#include "metrics/LoopStall.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace mdlink::metrics;

namespace {

constexpr std::int64_t Us(int h, int m, int s, int ms = 0)
{
    return ((h * 3600LL + m * 60 + s) * 1000 + ms) * 1000;
}

TEST(FeedLag, LagOnTheDaysCircle)
{
    struct Case {
        const char* updateTime;
        int millis;
        std::int64_t received;
        std::int64_t want;
    } cases[] = {
        {"09:30:00", 500, Us(9, 30, 0, 512), 12000},
        {"09:30:00", 500, Us(9, 30, 0, 500), 0},
        {"23:59:59", 900, Us(0, 0, 0, 100), 200000},     // across midnight
        {"09:30:01", 0, Us(9, 30, 0, 990), 0},           // stamped after it came: no lag
        {"00:00:00", 0, Us(23, 59, 59, 990), 0},         // the same across midnight
        {"09:30:00", 0, Us(21, 29, 59), Us(11, 59, 59)}, // the longest a lag is read as
        {"9:30:00", 0, Us(9, 30, 0), -1},
        {"09-30-00", 0, Us(9, 30, 0), -1},
        {"24:00:00", 0, Us(9, 30, 0), -1},
        {"09:30:00", 1000, Us(9, 30, 0), -1},
        {"", 0, Us(9, 30, 0), -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LagMicros(c.updateTime, c.millis, c.received), c.want) << c.updateTime << " " << c.received;
}

TEST(FeedLag, CountsPerExchangeIntoBucketsAtMostTheirBound)
{
    FeedLag lag;
    lag.Count("SHFE", 1000);      // exactly the first bound
    lag.Count("SHFE", 1001);      // just above it
    lag.Count("DCE", 20000000);   // above the last bound
    lag.Count("SHFE01234567", 0); // only 8 characters are the exchange's
    ASSERT_EQ(lag.Exchanges(), 3);
    EXPECT_STREQ(lag.At(0).name, "SHFE");
    EXPECT_EQ(lag.At(0).buckets[0].Get(), 1u);
    EXPECT_EQ(lag.At(0).buckets[1].Get(), 1u);
    EXPECT_EQ(lag.At(0).sumMicros.Get(), 2001u);
    EXPECT_EQ(lag.At(1).buckets[FeedLagBuckets - 1].Get(), 1u);
    EXPECT_STREQ(lag.At(2).name, "SHFE0123");
    for (int i = 0; i < 20; ++i)
        lag.Count(("X" + std::to_string(i)).c_str(), 5);
    EXPECT_EQ(lag.Exchanges(), FeedLag::MaxExchanges) << "the last series takes what has no room";
}

TEST(FeedLag, TimesOnlyWhenAskedAndOnlyOnce)
{
    FeedLag lag;
    EXPECT_FALSE(lag.Wanted());
    lag.Want();
    EXPECT_TRUE(lag.Wanted());
    lag.Time("CFFEX", "09:30:00", 0);
    EXPECT_FALSE(lag.Wanted());
    ASSERT_EQ(lag.Exchanges(), 1);
    std::uint64_t counted = 0;
    for (const auto& b : lag.At(0).buckets)
        counted += b.Get();
    EXPECT_EQ(counted, 1u);
}

TEST(FeedLag, ZoneOffsets)
{
    struct Case {
        const char* text;
        bool ok;
        std::int64_t seconds;
    } cases[] = {
        {"+08:00", true, 28800}, {"-05:30", true, -19800}, {"+8", true, 28800}, {"UTC", true, 0},
        {"+14:00", true, 50400}, {"+15", false, 0},        {"08:00", false, 0}, {"+08:60", false, 0},
        {"+08:0", false, 0},     {"+", false, 0},          {"+08x", false, 0},
    };
    for (const Case& c : cases) {
        std::int64_t seconds = 0;
        EXPECT_EQ(ParseZoneOffset(c.text, seconds), c.ok) << c.text;
        EXPECT_EQ(seconds, c.seconds) << c.text;
    }
}

TEST(LoopStall, TheLongestProbeWaitSinceTheLastScrapeAndAWaitingOneAsItStands)
{
    LoopStall stall;
    EXPECT_TRUE(stall.Posting(1000));
    EXPECT_FALSE(stall.Posting(2000)) << "one probe at a time";
    stall.Ran(1000 + 3000000);
    EXPECT_TRUE(stall.Posting(10000000));
    stall.Ran(10000000 + 1000000);
    EXPECT_DOUBLE_EQ(stall.Take(20000000), 0.003);
    EXPECT_DOUBLE_EQ(stall.Take(20000000), 0.0) << "a scrape starts the next interval";
    ASSERT_TRUE(stall.Posting(30000000));
    EXPECT_DOUBLE_EQ(stall.Take(30000000 + 2000000000LL), 2.0) << "a hung loop shows at once";
    EXPECT_DOUBLE_EQ(stall.Take(30000000 + 5000000000LL), 5.0) << "and grows";
}

class Ages : public ::testing::Test {
protected:
    void SetUp() override { SetServing(); }
    void Subscribe(std::vector<std::string> ids, bool on = true)
    {
        std::vector<char*> p;
        for (std::string& id : ids)
            p.push_back(&id[0]);
        ages.Note(p.data(), static_cast<int>(p.size()), on);
    }
    // The metrics thread's tick.
    void Tick(std::uint32_t nowMs)
    {
        SetMarkClock(nowMs);
        ages.Rebuild(nowMs);
    }
    InstrumentAges ages;
};

TEST_F(Ages, StaleAfterTheBoundFromTheSubscriptionOrTheLastRecord)
{
    const std::string longId(40, 'x');
    Subscribe({"au2612", "ag2612", "IO2612-C-4000-long-id", longId});
    ages.Mark("au2612"); // before the loop has the table: nothing to mark
    Tick(1000);
    EXPECT_EQ(ages.Read(1000, 500).subscribed, 4u);
    Tick(1500);
    ages.Mark("au2612");
    ages.Mark("IO2612-C-4000-long-id");
    ages.Mark((longId + "y").c_str()); // not subscribed: another key
    ages.Mark("cu2612");
    Tick(3000);
    const InstrumentAges::Staleness s = ages.Read(3000, 1600);
    EXPECT_EQ(s.subscribed, 4u);
    EXPECT_EQ(s.stale, 2u) << "ag2612 and the 40-character id, 2000 ms since their subscription";
    EXPECT_EQ(s.oldestMs, 2000u);
    EXPECT_EQ(ages.Read(3000, 2000).stale, 0u) << "exactly the bound is not beyond it";
}

TEST_F(Ages, ChangesKeepTheMarksAndDropWhatWasUnsubscribed)
{
    Subscribe({"au2612", "ag2612"});
    Tick(1000);
    ages.Mark("au2612"); // the loop takes the table
    Tick(2000);
    ages.Mark("au2612");
    Subscribe({"ag2612"}, false);
    Subscribe({"au2612", "cu2612"}); // au2612 again: keeps its mark
    Tick(4000);                      // offered, not yet taken
    InstrumentAges::Staleness s = ages.Read(4000, 10000);
    EXPECT_EQ(s.subscribed, 2u);
    EXPECT_EQ(s.oldestMs, 2000u) << "au2612 marked at 2000, cu2612 subscribed at 4000";
    ages.Mark("cu2612");
    Subscribe({"zn2612"});
    Tick(5000); // built from the table the loop uses, with its marks
    s = ages.Read(6000, 10000);
    EXPECT_EQ(s.subscribed, 3u);
    EXPECT_EQ(s.oldestMs, 4000u);
}

TEST_F(Ages, TheLoopMarksWhileTheMetricsThreadRebuilds)
{
    std::vector<std::string> ids;
    for (int i = 0; i < 64; ++i)
        ids.push_back("id" + std::to_string(i));
    Subscribe(ids);
    Tick(1);
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        while (!stop.load())
            for (const std::string& id : ids)
                ages.Mark(id.c_str());
    });
    for (std::uint32_t now = 2; now < 400; ++now) {
        Subscribe({ids[now % 64]}, now % 2 == 0);
        Tick(now);
        ages.Read(now, 1);
    }
    stop.store(true);
    loop.join();
    Subscribe(ids);
    Tick(500);
    ages.Mark("id0"); // takes the last table
    EXPECT_EQ(ages.Read(500, 1000).subscribed, 64u);
}

} // namespace
