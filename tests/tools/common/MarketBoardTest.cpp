// The tools' board of latest records and the ticker that draws it.
#include "MarketBoard.h"
#include "Ticker.h"
#include "ToolsTestSupport.h"

#include <cfloat>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace toolstest {
namespace {

TEST(MarketBoardTest, KeepsTheLatestRecordPerInstrument)
{
    mdtools::MarketBoard board;
    board.AddDepth(Depth("au2612", 451), 1);
    board.AddDepth(Depth("ag2612", 7000), 2);
    board.AddDepth(Depth("au2612", 452), 3);
    EXPECT_EQ(board.Records(), 3u);
    EXPECT_EQ(board.Instruments(), 2u);
    auto rows = board.Rows(true);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(rows[0].depth.InstrumentID, "au2612");
    EXPECT_EQ(rows[0].depth.LastPrice, 452);
    EXPECT_EQ(rows[0].count, 2u);
    EXPECT_TRUE(board.Rows(true).empty());
    board.AddDepth(Depth("ag2612", 7001), 4);
    rows = board.Rows(true);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].depth.InstrumentID, "ag2612");
    EXPECT_EQ(board.Rows(false).size(), 2u);
}

TEST(MarketBoardTest, AnUnterminatedIdIsReadWithinItsMember)
{
    mdtools::MarketBoard board;
    auto d = Depth("", 1);
    std::memset(d.InstrumentID, 'x', sizeof d.InstrumentID);
    board.AddDepth(d, 1);
    board.AddDepth(d, 2);
    EXPECT_EQ(board.Instruments(), 1u);
}

TEST(MarketBoardTest, RowsStopAtTheCapAndFurtherIdsAreCounted)
{
    mdtools::MarketBoard board(2, 3);
    const char* const ids[] = {"a", "b", "c", "a", "d", "c", "e", "f", "b", "g"};
    for (const char* id : ids)
        board.AddDepth(Depth(id, 1), 1);
    EXPECT_EQ(board.Records(), 10u);
    EXPECT_EQ(board.Instruments(), 2u);
    const auto rows = board.Rows(false);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(rows[0].depth.InstrumentID, "a");
    EXPECT_STREQ(rows[1].depth.InstrumentID, "b");
    EXPECT_EQ(rows[0].count, 2u);
    EXPECT_EQ(rows[1].count, 2u);
    EXPECT_EQ(board.HiddenRecords(), 6u); // c d c e f g
    // c, d, e counted; f and g past the counting limit.
    EXPECT_EQ(board.HiddenInstruments(), 3u);
    EXPECT_EQ(board.HiddenText(), "3+");
    const auto events = board.TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("board full at 2 instruments"), std::string::npos) << events[0];
}

TEST(MarketBoardTest, UnderTheCountingLimitTheCountIsExact)
{
    mdtools::MarketBoard board(1);
    for (const char* id : {"a", "b", "c", "b"})
        board.AddDepth(Depth(id, 1), 1);
    EXPECT_EQ(board.HiddenText(), "2");
    EXPECT_EQ(mdtools::MarketBoard().HiddenText(), "0");
    EXPECT_GE(mdtools::MarketBoard::DefaultMaxRows, 100u);
}

TEST(TickerTest, HiddenIdsAreCountedUnderTheTable)
{
    mdtools::Ticker ticker;
    std::vector<mdtools::TickerRow> rows(2);
    rows[0].depth = Depth("a", 1);
    rows[1].depth = Depth("b", 2);
    EXPECT_EQ(ticker.Redraw({}, rows, 200, 50).find("more instruments"), std::string::npos);
    EXPECT_NE(ticker.Redraw({}, rows, 200, 50, 7).find("... 7 more instruments"), std::string::npos);
    // Rows cut for the terminal's height and ids without a row add up.
    EXPECT_NE(ticker.Redraw({}, rows, 200, 3, 7).find("... 8 more instruments"), std::string::npos);
}

TEST(TickerTest, PricesAndChanges)
{
    EXPECT_EQ(mdtools::Ticker::Price(452.34), "452.34");
    EXPECT_EQ(mdtools::Ticker::Price(3550), "3550");
    EXPECT_EQ(mdtools::Ticker::Price(0), "-");
    EXPECT_EQ(mdtools::Ticker::Price(DBL_MAX), "-");
    auto d = Depth("au2612", 452.5);
    EXPECT_EQ(mdtools::Ticker::Change(d), "+2.5");
    d.PreSettlementPrice = DBL_MAX;
    d.PreClosePrice = 453;
    EXPECT_EQ(mdtools::Ticker::Change(d), "-0.5");
    d.PreClosePrice = 0;
    EXPECT_EQ(mdtools::Ticker::Change(d), "-");
}

TEST(TickerTest, RowsShowTheColumns)
{
    mdtools::TickerRow row;
    row.depth = Depth("au2612", 452.34);
    row.recv_us = 1700000000123456LL;
    const std::string text = mdtools::Ticker::Row(row);
    for (const char* part :
         {"au2612", "452.34", "+2.34", "452.32", "452.36", "1234", "10:11:12.500", ".123456"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
    const std::string line = mdtools::Ticker::PlainLine(row);
    EXPECT_NE(line.find("bid=452.32 x7"), std::string::npos) << line;
    EXPECT_NE(line.find("updated=10:11:12.500"), std::string::npos) << line;
}

TEST(TickerTest, RedrawReplacesTheTableInPlace)
{
    mdtools::Ticker ticker;
    std::vector<mdtools::TickerRow> rows(3);
    for (int i = 0; i < 3; ++i)
        rows[static_cast<std::size_t>(i)].depth = Depth(("i" + std::to_string(i)).c_str(), 1 + i);
    const std::string first = ticker.Redraw({"hello"}, rows, 200, 50);
    EXPECT_EQ(first.find("\x1b["), std::string::npos);
    EXPECT_EQ(first.rfind("hello\n", 0), 0u);
    const std::string second = ticker.Redraw({}, rows, 200, 50);
    EXPECT_EQ(second.rfind("\x1b[4A\r\x1b[J", 0), 0u); // header + three rows
    // A small terminal: rows are cut, lines are shortened.
    const std::string small = ticker.Redraw({}, rows, 20, 4);
    EXPECT_NE(small.find("... 1 more instrum"), std::string::npos);
    std::istringstream lines(small.substr(small.find("\x1b[J") + 3));
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 19u) << line;
    EXPECT_EQ(ticker.Redraw({}, rows, 200, 50).rfind("\x1b[4A", 0), 0u);
}

} // namespace
} // namespace toolstest
