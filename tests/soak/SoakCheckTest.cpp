#include "Checks.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using soak::DelayKind;
using soak::SeqCheck;
using soak::SeqVerdict;
using soak::SlotCheck;

SeqCheck Feed(const std::vector<std::uint64_t>& seqs)
{
    SeqCheck c;
    for (std::uint64_t s : seqs)
        c.Record(s);
    return c;
}

struct SeqCase {
    const char* name;
    std::vector<std::uint64_t> delivered;
    std::uint64_t wholeBeforeFault;
    bool tailExempt;
    SeqVerdict expected;
};

TEST(SlotCheck, OwesWhatALinkInThePackBrought)
{
    struct Step {
        char what; // 'b' brought by a link, 'd' delivered to the application, 'f' every link lost
        int n;
        int previous; // 'b': the link's number before, -1 for none
        double atMs;  // 'b': when
        bool inOrder;
        std::uint64_t lost; // so far
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const double held = SlotCheck::HoldMs;
    const Case cases[] = {
        {"two links, each number once",
         {{'b', 1, -1, 0, true, 0},
          {'d', 1, 0, 0, true, 0},
          {'b', 1, -1, 1, true, 0},
          {'b', 2, 1, 10, true, 0},
          {'d', 2, 0, 0, true, 0},
          {'b', 2, 1, 11, true, 0}}},
        {"a number held, then delivered after its predecessor",
         {{'b', 3, -1, 0, true, 0},
          {'b', 4, 3, 10, true, 0},
          {'d', 3, 0, 0, true, 0},
          {'d', 4, 0, 0, true, 0}}},
        {"a number skipped although it was news when a link brought it",
         {{'b', 5, -1, 0, true, 0}, {'b', 6, 5, 10, true, 0}, {'d', 6, 0, 0, true, 1}}},
        {"a link in the pack brings a number the others skipped",
         {{'d', 7, 0, 0, true, 0},
          {'b', 7, -1, 0, true, 0},
          {'b', 9, -1, 5, true, 0},
          {'d', 9, 0, 0, true, 0},
          {'b', 8, 7, 20, true, 1}}},
        {"a link back behind the others owes nothing until it catches up",
         {{'d', 7, 0, 0, true, 0},
          {'d', 9, 0, 0, true, 0},
          {'b', 5, -1, 0, true, 0},
          {'b', 6, 5, 10, true, 0},
          {'b', 9, 8, 40, true, 0}}},
        {"a link in the pack later than the hold is not waited for",
         {{'b', 100, 99, 0, true, 0},
          {'d', 100, 0, 0, true, 0},
          {'b', 110, -1, 5, true, 0},
          {'d', 110, 0, 0, true, 0},
          {'b', 101, 100, 5 + held, true, 0}}},
        {"... one within it is, however few records came meanwhile",
         {{'b', 100, 99, 0, true, 0},
          {'d', 100, 0, 0, true, 0},
          {'b', 102, -1, 5, true, 0},
          {'d', 102, 0, 0, true, 0},
          {'b', 101, 100, 4 + held, true, 1}}},
        {"twice", {{'d', 10, 0, 0, true, 0}, {'d', 10, 0, 0, false, 0}}},
        {"out of order", {{'d', 12, 0, 0, true, 0}, {'d', 11, 0, 0, false, 0}}},
        {"every link lost: the order starts again",
         {{'b', 12, -1, 0, true, 0},
          {'d', 12, 0, 0, true, 0},
          {'b', 13, 12, 10, true, 0},
          {'f', 0, 0, 0, true, 0},
          {'b', 12, -1, 20, true, 0},
          {'d', 12, 0, 0, true, 0}}},
        {"midnight starts the numbers again",
         {{'d', 8000000, 0, 0, true, 0}, {'b', 0, -1, 0, true, 0}, {'d', 0, 0, 0, true, 0}}},
    };
    for (const Case& c : cases) {
        SlotCheck check;
        std::uint64_t lost = 0;
        int i = 0;
        for (const Step& s : c.steps) {
            if (s.what == 'b')
                lost += check.Brought(s.n, s.previous, s.atMs);
            else if (s.what == 'f')
                check.Forget();
            else
                EXPECT_EQ(check.Delivered(s.n, lost), s.inOrder) << c.name << ", step " << i;
            EXPECT_EQ(lost, s.lost) << c.name << ", step " << i;
            ++i;
        }
    }
}

TEST(SeqCheck, JudgesThePrefixWrittenBeforeTheFault)
{
    const SeqCase cases[] = {
        {"everything, in order", {1, 2, 3, 4}, 4, false, SeqVerdict::Ok},
        {"more than the front vouched for", {1, 2, 3, 4, 5}, 3, false, SeqVerdict::Ok},
        {"nothing written, nothing owed", {}, 0, false, SeqVerdict::Ok},
        {"stale record after the fault", {1, 2, 3, 3}, 3, false, SeqVerdict::Ok},
        {"zeroed record after the fault", {1, 2, 0, 7}, 2, false, SeqVerdict::Ok},
        {"tail missing", {1, 2}, 4, false, SeqVerdict::Lost},
        {"tail missing after Release", {1, 2}, 4, true, SeqVerdict::Ok},
        {"gap", {1, 2, 4, 5}, 5, false, SeqVerdict::Lost},
        {"gap before Release", {1, 3}, 4, true, SeqVerdict::Lost},
        {"first record missing", {2, 3}, 3, false, SeqVerdict::Lost},
        {"unstamped record before the fault", {1, 0, 3}, 3, false, SeqVerdict::Lost},
        {"duplicate", {1, 2, 2, 3}, 3, false, SeqVerdict::Duplicated},
        {"reordered", {1, 3, 2}, 3, false, SeqVerdict::Lost},
        {"earlier after later", {1, 2, 3, 1}, 4, false, SeqVerdict::Duplicated},
        {"duplicate before Release", {1, 1}, 2, true, SeqVerdict::Duplicated},
    };
    for (const SeqCase& c : cases) {
        const SeqCheck check = Feed(c.delivered);
        EXPECT_EQ(soak::Judge(check, c.wholeBeforeFault, c.tailExempt), c.expected) << c.name;
        EXPECT_EQ(check.Records(), c.delivered.size()) << c.name;
    }
}

TEST(SeqCheck, KeepsThePrefixAndTheFirstBreak)
{
    const SeqCheck c = Feed({1, 2, 3, 5, 4, 6});
    EXPECT_EQ(c.Prefix(), 3u);
    EXPECT_TRUE(c.Broken());
    EXPECT_EQ(c.BreakingSeq(), 5u);
    EXPECT_EQ(c.Records(), 6u);
}

TEST(ReconnectClock, RetryRunsFromTheReportToTheNextOutcome)
{
    soak::ReconnectClock clock;
    EXPECT_FALSE(clock.Connected(0)); // the first connect ends no retry
    EXPECT_FALSE(clock.Disconnected(soak::ReasonLinkLost, 1000));
    auto failed = clock.Disconnected(111, 4001); // the retry failed
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->kind, DelayKind::Retry);
    EXPECT_DOUBLE_EQ(failed->ms, 3001);
    auto connected = clock.Connected(7050);
    ASSERT_TRUE(connected);
    EXPECT_EQ(connected->kind, DelayKind::Retry);
    EXPECT_DOUBLE_EQ(connected->ms, 3049);
}

TEST(ReconnectClock, RetryCountsFromTheCallbacksReturn)
{
    soak::ReconnectClock clock;
    clock.Connected(0);
    clock.Disconnected(soak::ReasonLinkLost, 1000);
    clock.RetryStartsAt(1100); // the callback blocked for 100 ms
    auto retry = clock.Connected(4150);
    ASSERT_TRUE(retry);
    EXPECT_DOUBLE_EQ(retry->ms, 3050);
    // With no retry pending there is nothing to move.
    clock.RetryStartsAt(5000);
    EXPECT_FALSE(clock.Disconnected(soak::ReasonHeartBeat, 30000) == std::nullopt);
    EXPECT_FALSE(clock.Connected(30001));
}

TEST(ReconnectClock, SilenceRunsFromTheLastActivity)
{
    soak::ReconnectClock clock;
    clock.Connected(0);
    clock.Activity(500);
    clock.Activity(2500);
    auto timeout = clock.Disconnected(soak::ReasonHeartBeat, 23510);
    ASSERT_TRUE(timeout);
    EXPECT_EQ(timeout->kind, DelayKind::Silence);
    EXPECT_DOUBLE_EQ(timeout->ms, 21010);
    // The next front is tried at once: its outcome closes no retry.
    EXPECT_FALSE(clock.Disconnected(111, 23511));
    // Activity while not connected does not move the silence's start.
    clock.Activity(25000);
    auto retry = clock.Connected(26511);
    ASSERT_TRUE(retry);
    EXPECT_DOUBLE_EQ(retry->ms, 3000);
}

TEST(DelayBound, EarlyAndLateAgainstTheBoundAndTheStall)
{
    struct Case {
        const char* name;
        std::vector<double> samples;
        double stall;
        bool early, late;
    };
    const Case cases[] = {
        {"none", {}, 0, false, false},
        {"on time", {3000, 3100, 3300}, 0, false, false},
        {"within the tolerance", {2999}, 0, false, false},
        {"early", {2997.9, 3000}, 0, true, false},
        {"late", {3300.5}, 0, false, true},
        {"late but for the stall", {3350}, 60, false, false},
        {"late past the stall", {3361}, 60, false, true},
    };
    for (const Case& c : cases) {
        soak::DelayBound b(3000);
        for (double s : c.samples)
            b.Add(s);
        EXPECT_EQ(b.TooEarly(), c.early) << c.name;
        EXPECT_EQ(b.TooLate(c.stall), c.late) << c.name;
        EXPECT_EQ(b.Count(), c.samples.size()) << c.name;
    }
}

TEST(ThrowRecord, ReadsTheCallbackAndTheCount)
{
    struct Case {
        std::string line;
        bool ok;
        std::string callback;
        std::uint64_t count;
    };
    const std::string head = "2026-12-08 13:00:00.123 <err>[   KVMDApi][    Callback] - ";
    const Case cases[] = {
        {head + "OnRtnDepthMarketData threw: boom (1 since the last record)", true, "OnRtnDepthMarketData",
         1},
        {head + "OnFrontConnected threw: unknown exception (37 since the last record)\r", true,
         "OnFrontConnected", 37},
        {head + "OnRspUserLogin threw: a (b) c (12 since the last record)", true, "OnRspUserLogin", 12},
        {head + "OnRtnDepthMarketData threw: boom", false, "", 0},
        {head + "OnRtnDepthMarketData threw: boom (x since the last record)", false, "", 0},
        {"2026-12-08 13:00:00.123 <app>[   KVMDApi][    Callback] - OnFrontConnected threw: a "
         "(1 since the last record)",
         false, "", 0},
        {"2026-12-08 13:00:00.123 <err>[   KVMDApi][     Connect] - failed", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string callback;
        std::uint64_t count = 0;
        EXPECT_EQ(soak::ParseThrowRecord(c.line, callback, count), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(callback, c.callback) << c.line;
            EXPECT_EQ(count, c.count) << c.line;
        }
    }
}

} // namespace
