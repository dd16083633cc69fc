// The CSV form of depth records and mdfront's command line.
#include "DepthCsv.h"
#include "DepthWalk.h"
#include "FrontFixture.h"
#include "FrontOptions.h"

#include <cstring>
#include <fstream>

namespace fronttest {
namespace {

using Depth = CThostFtdcDepthMarketDataField;

class DepthCsvTest : public FrontFixture {};

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

TEST(FrontOptionsTest, FlagsFillTheConfig)
{
    mdfront::FrontOptions o;
    std::string error;
    const std::vector<std::string> args = {
        "--port", "7001", "--form=text", "--text-fields", "60", "--rate", "0",
        "--instruments", "au2612,IF2612,x1@DCE", "--user", "u", "--password", "p",
        "--silent-after-seconds", "1.5", "--close-after-frames", "0", "--trickle", "2",
        "--short-bodies", "--big-body", "900", "--refuse-logins", "--verbose", "--stamp-sequence"};
    ASSERT_TRUE(mdfront::ParseFrontOptions(args, o, error)) << error;
    const mdfront::FrontConfig& c = o.config;
    EXPECT_EQ(c.port, 7001);
    EXPECT_EQ(c.form, mdfront::DepthForm::Text);
    EXPECT_EQ(c.text_fields, 60);
    EXPECT_EQ(c.rate, 0.0);
    ASSERT_EQ(c.instruments.size(), 3u);
    EXPECT_EQ(c.instruments[0].exchange, "SHFE");
    EXPECT_EQ(c.instruments[1].exchange, "CFFEX");
    EXPECT_EQ(c.instruments[2].exchange, "DCE");
    EXPECT_EQ(c.user, "u");
    EXPECT_EQ(c.password, "p");
    EXPECT_EQ(c.faults.silent_after_time, std::chrono::milliseconds(1500));
    EXPECT_EQ(c.faults.close_after_frames, 0u);
    EXPECT_EQ(c.faults.trickle_delay, std::chrono::microseconds(2000));
    EXPECT_EQ(c.faults.short_login, 100u);
    EXPECT_EQ(c.faults.big_body_length, 900u);
    EXPECT_TRUE(c.faults.refuse_logins);
    EXPECT_TRUE(o.verbose);
    EXPECT_TRUE(c.stamp_sequence);
    EXPECT_FALSE(c.faults.silent_after_frames.has_value());
}

TEST(FrontOptionsTest, BadInputIsRefusedWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--nosuch"}, {"--port"}, {"--port", "70000"}, {"--form", "xml"},
        {"--big-body", "800"}, {"--rate", "-1"}, {"stray"}, {"--text-fields", "0"}};
    for (const auto& args : bad) {
        mdfront::FrontOptions o;
        std::string error;
        EXPECT_FALSE(mdfront::ParseFrontOptions(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(FrontOptionsTest, HelpNamesEveryFlag)
{
    const std::string help = mdfront::FrontUsage();
    for (const std::string& name : mdfront::FrontFlagNames())
        EXPECT_NE(help.find("--" + name), std::string::npos) << name;
    EXPECT_GE(mdfront::FrontFlagNames().size(), 30u);
}

} // namespace
} // namespace fronttest
