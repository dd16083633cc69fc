// The CSV form of depth records that mdcli writes and mdfront replays.
#include "DepthCsv.h"
#include "DepthWalk.h"
#include "FrameBuilder.h"
#include "LocalTime.h"
#include "ToolsTestSupport.h"

#include <cstring>
#include <fstream>

namespace toolstest {
namespace {

using Depth = CThostFtdcDepthMarketDataField;

class DepthCsvTest : public TempDirTest {};

TEST_F(DepthCsvTest, RowsReadBackBitForBit)
{
    mdfront::DepthWalk walk({"cu2611", "SHFE"}, "20261208", 3);
    std::vector<Depth> written;
    {
        std::ofstream out("rows.csv");
        out << mdtools::DepthCsvHeader() << "\n";
        for (int i = 0; i < 50; ++i) {
            written.push_back(walk.Next(mdtools::NowLocal()));
            written.back().PreDelta = 1.0 / 3.0; // not a short decimal
            out << mdtools::DepthCsvRow(1700000000000000LL + i, written.back()) << "\r\n";
        }
    }
    std::vector<mdtools::CsvDepthRow> rows;
    std::string error;
    ASSERT_TRUE(mdtools::ReadDepthCsv("rows.csv", rows, error)) << error;
    ASSERT_EQ(rows.size(), written.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].recv_time_us, 1700000000000000LL + static_cast<long long>(i));
        EXPECT_EQ(std::memcmp(&rows[i].depth, &written[i], sizeof(Depth)), 0) << "row " << i;
    }
}

TEST_F(DepthCsvTest, HeaderNamesEveryMemberOnce)
{
    const auto cells = mdtools::SplitCsvLine(mdtools::DepthCsvHeader());
    ASSERT_EQ(cells.size(), 1u + 44u); // receive time + 44 members
    EXPECT_EQ(cells[0], "RecvTimeUs");
    EXPECT_EQ(cells[1], "TradingDay");
    EXPECT_EQ(cells.back(), "ActionDay");
    for (std::size_t i = 0; i < cells.size(); ++i)
        for (std::size_t j = i + 1; j < cells.size(); ++j)
            EXPECT_NE(cells[i], cells[j]);
}

TEST_F(DepthCsvTest, QuotedTextAndMissingColumnsRead)
{
    Depth d;
    std::memset(&d, 0, sizeof d);
    mdfront::CopyText(d.InstrumentID, 31, "a,\"b\"");
    const std::string row = mdtools::DepthCsvRow(5, d);
    EXPECT_NE(row.find("\"a,\"\"b\"\"\""), std::string::npos);
    EXPECT_EQ(mdtools::SplitCsvLine(row)[2], "a,\"b\"");

    std::ofstream("few.csv") << "InstrumentID,LastPrice,Extra\nau2612,451.5,zzz\n";
    std::vector<mdtools::CsvDepthRow> rows;
    std::string error;
    ASSERT_TRUE(mdtools::ReadDepthCsv("few.csv", rows, error)) << error;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].depth.InstrumentID, "au2612");
    EXPECT_EQ(rows[0].depth.LastPrice, 451.5);
    EXPECT_EQ(rows[0].depth.Volume, 0);
}

TEST_F(DepthCsvTest, BadFilesAreReported)
{
    std::vector<mdtools::CsvDepthRow> rows;
    std::string error;
    EXPECT_FALSE(mdtools::ReadDepthCsv("absent.csv", rows, error));
    EXPECT_NE(error.find("absent.csv"), std::string::npos);
    std::ofstream("bad.csv") << "InstrumentID,Volume\nau2612,12x\n";
    EXPECT_FALSE(mdtools::ReadDepthCsv("bad.csv", rows, error));
    EXPECT_NE(error.find(":2:"), std::string::npos);
    std::ofstream("noheader.csv") << "a,b,c\n";
    EXPECT_FALSE(mdtools::ReadDepthCsv("noheader.csv", rows, error));
}

struct IntCell {
    const char* text;
    bool accepted;
};

// Integer members hold an int: a value past its range is refused, never
// narrowed into another number.
const IntCell IntCells[] = {
    {"2147483647", true},   {"-2147483648", true}, {"2147483648", false},
    {"-2147483649", false}, {"4294967296", false}, {"99999999999", false},
};

TEST_F(DepthCsvTest, IntegersOutsideTheirMemberAreRefusedWithFileAndLine)
{
    for (const char* column : {"Volume", "AskVolume3"}) {
        for (const IntCell& cell : IntCells) {
            std::ofstream("ints.csv")
                << "InstrumentID," << column << "\nau2612,1\nau2612," << cell.text << "\n";
            std::vector<mdtools::CsvDepthRow> rows;
            std::string error;
            const bool ok = mdtools::ReadDepthCsv("ints.csv", rows, error);
            EXPECT_EQ(ok, cell.accepted) << column << "=" << cell.text;
            if (cell.accepted) {
                ASSERT_EQ(rows.size(), 2u);
                const int want = static_cast<int>(std::stoll(cell.text));
                EXPECT_EQ(std::string(column) == "Volume" ? rows[1].depth.Volume : rows[1].depth.AskVolume3,
                          want);
            } else {
                EXPECT_NE(error.find("ints.csv:3:"), std::string::npos) << error;
                EXPECT_NE(error.find(column), std::string::npos) << error;
                EXPECT_NE(error.find(cell.text), std::string::npos) << error;
            }
        }
    }
}

} // namespace
} // namespace toolstest
