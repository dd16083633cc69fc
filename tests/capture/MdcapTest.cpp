#include "CapOptions.h"
#include "Commands.h"
#include "DepthCsv.h"
#include "Merge.h"

#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace mdcap;
using namespace mdcapture;
using capturetest::Record;

namespace {

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

constexpr std::int64_t Day = 1796811072000000000; // 2026-12-09T10:11:12Z
constexpr std::int64_t Second = 1000000000;

// A capture of (instrument, volume, seconds after Day) records, a block each two.
void Capture(const std::string& path, const std::vector<std::tuple<const char*, int, int>>& records)
{
    std::string error;
    auto file = FileWriter::Create(path, capturetest::Header(), 3, error);
    ASSERT_TRUE(file) << error;
    int n = 0;
    for (const auto& [id, volume, at] : records) {
        char bytes[sizeof(CThostFtdcDepthMarketDataField)];
        CopyZeroingPadding(Record("20261209", volume, id), bytes);
        ASSERT_TRUE(file->Append(Day + at * Second, RecordKind::Depth, bytes, sizeof bytes));
        if (++n % 2 == 0) {
            ASSERT_TRUE(file->Flush());
        }
    }
    ASSERT_TRUE(file->Close());
}

struct Result {
    int code;
    std::string out, err;
};

Result Mdcap(const std::string& args)
{
    CapOptions options;
    std::string error;
    if (!ParseCapOptions(Words(args), options, error))
        return {2, "", error};
    std::ostringstream out, err;
    const int code = Run(options, out, err);
    return {code, out.str(), err.str()};
}

class MdcapTest : public toolstest::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Capture("a.mdcap",
                {{"rb2601", 1, 0}, {"au2612", 2, 1}, {"rb2601", 3, 2}, {"rb2601", 4, 3}, {"au2612", 5, 4}});
    }
};

} // namespace

TEST(MdcapOptionsTest, CommandsTheirFilesAndFlags)
{
    struct Case {
        const char* args;
        const char* error; // "" when accepted
    };
    const Case cases[] = {
        {"info a.mdcap b.mdcap", ""},
        {"cat a.mdcap --csv --instruments rb2601,au2612 --from 10:00:00 --to 2026-12-09T11:00:00.5Z", ""},
        {"cut a.mdcap --from 10:00:00 --to 11:00:00 -o b.mdcap", ""},
        {"merge a.mdcap b.mdcap --output c.mdcap", ""},
        {"info", "give at least one FILE"},
        {"cut a.mdcap b.mdcap --from 10:00:00 --to 11:00:00 -o c.mdcap", "give one FILE"},
        {"cut a.mdcap --from 10:00:00 -o c.mdcap", "give --from and --to"},
        {"merge a.mdcap b.mdcap", "no -o OUT given"},
        {"cat a.mdcap --from 24:00:00", "bad time '24:00:00'"},
        {"info a.mdcap --csv", "unknown flag --csv"},
        {"frob a.mdcap", "unknown command 'frob'"},
    };
    for (const auto& c : cases) {
        CapOptions options;
        std::string error;
        EXPECT_EQ(ParseCapOptions(Words(c.args), options, error), *c.error == '\0') << c.args;
        EXPECT_EQ(error.substr(0, std::strlen(c.error)), c.error) << c.args << ": " << error;
    }
    CapOptions options;
    std::string error;
    ASSERT_TRUE(ParseCapOptions(Words("cat x y --instruments a,b --csv"), options, error));
    EXPECT_EQ(options.files, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(options.instruments, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(options.csv);
}

TEST(MdcapOptionsTest, Times)
{
    struct Case {
        const char* text;
        bool ok, ofDay;
        std::int64_t utcNs; // of a full time ending in Z
    };
    const Case cases[] = {
        {"2026-12-09T10:11:12.5Z", true, false, Day + Second / 2},
        {"2026-12-09 10:11:12Z", true, false, Day},
        {"2026-12-09T10:11:12.000000001Z", true, false, Day + 1},
        {"10:11:12.25", true, true, 0},
        {"10:11:12.0000000001", false, false, 0},
        {"10:11:12Z", false, false, 0},
        {"10:11", false, false, 0},
        {"10:60:00", false, false, 0},
        {"2026-13-09T10:11:12", false, false, 0},
        {"2026-12-09X10:11:12", false, false, 0},
        {"10:11:12 ", false, false, 0},
    };
    for (const auto& c : cases) {
        TimeArg t;
        ASSERT_EQ(ParseTimeArg(c.text, t), c.ok) << c.text;
        if (!c.ok)
            continue;
        EXPECT_EQ(t.ofDay, c.ofDay) << c.text;
        std::int64_t ns = 0;
        EXPECT_EQ(ResolveTime(t, "", ns), !c.ofDay) << c.text;
        if (!c.ofDay) {
            EXPECT_EQ(ns, c.utcNs) << c.text;
        }
    }
}

TEST(MultisetUnionTest, ARecordInSeveralCapturesOnceARepeatedOneAsOftenAsItCame)
{
    struct Step {
        std::size_t capture;
        std::uint64_t key;
        std::int64_t ns;
        bool written;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    constexpr std::int64_t W = MultisetUnion::DefaultWindowNs;
    const Case cases[] = {
        {"in both captures", {{0, 1, 10, true}, {1, 1, 11, false}}},
        {"repeated in both", {{0, 1, 10, true}, {1, 1, 11, false}, {0, 1, 20, true}, {1, 1, 21, false}}},
        {"repeated in one, once in the other", {{0, 1, 10, true}, {1, 1, 11, false}, {0, 1, 20, true}}},
        {"the other capture holds it more often", {{0, 1, 10, true}, {1, 1, 11, false}, {1, 1, 12, true}}},
        {"distinct records", {{0, 1, 10, true}, {1, 2, 11, true}, {0, 3, 12, true}}},
        {"repeated after the window is a new record",
         {{0, 1, 0, true}, {0, 1, W + 1, true}, {1, 1, W + 2, false}, {1, 1, W + 3, true}}},
    };
    for (const auto& c : cases) {
        MultisetUnion merged(2);
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            EXPECT_EQ(merged.Take(s.capture, {0, s.key}, s.ns), s.written) << c.name << ", step " << i;
        }
    }
    MultisetUnion merged(1, 100);
    merged.Take(0, {0, 1}, 0);
    merged.Take(0, {0, 2}, 50);
    merged.Take(0, {0, 3}, 150);
    EXPECT_EQ(merged.Remembered(), 2u) << "keys unseen for the window are forgotten";
}

TEST_F(MdcapTest, InfoSaysHeaderBlocksTimesAndInstruments)
{
    const auto r = Mdcap("info a.mdcap");
    EXPECT_EQ(r.code, 0) << r.err;
    for (const char* line :
         {"a.mdcap\n", "written by capture tests 1, trading day 20261209\n", "front tcp://127.0.0.1:1\n",
          "record kind 1 depth, 408 bytes, 44 members\n", "3 blocks, 5 records", "au2612 2\n", "rb2601 3\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
}

TEST_F(MdcapTest, VerifyPassesAGoodFileAndNamesTheFaultOfABadOne)
{
    auto r = Mdcap("verify a.mdcap");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "a.mdcap: ok, 3 blocks, 5 records\n");

    const std::string bytes = capturetest::FileBytes("a.mdcap");
    capturetest::PutFile("cut.mdcap", bytes.substr(0, bytes.size() - 3));
    Capture("back.mdcap", {{"rb2601", 1, 5}, {"rb2601", 2, 4}});
    r = Mdcap("verify a.mdcap cut.mdcap back.mdcap");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "a.mdcap: ok, 3 blocks, 5 records\n");
    EXPECT_NE(r.err.find("cut.mdcap: at offset "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": truncated block"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("back.mdcap: at offset "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("receive times go back at record 1 of the block"), std::string::npos) << r.err;
}

TEST_F(MdcapTest, CatFiltersByTimeAndInstrument)
{
    struct Case {
        const char* args;
        std::vector<std::string> instrumentsSeen;
    };
    const Case cases[] = {
        {"", {"rb2601", "au2612", "rb2601", "rb2601", "au2612"}},
        {"--instruments au2612", {"au2612", "au2612"}},
        {"--from 2026-12-09T10:11:13Z --to 2026-12-09T10:11:15Z", {"au2612", "rb2601"}},
        {"--from 2026-12-09T10:11:14Z --instruments rb2601", {"rb2601", "rb2601"}},
        {"--to 2026-12-09T10:11:12Z", {}},
    };
    for (const auto& c : cases) {
        const auto r = Mdcap(std::string("cat a.mdcap ") + c.args);
        EXPECT_EQ(r.code, 0) << c.args << ": " << r.err;
        std::vector<std::string> seen;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            seen.push_back(line.substr(0, line.find(' ')));
        EXPECT_EQ(seen, c.instrumentsSeen) << c.args;
    }
    const auto r = Mdcap("cat a.mdcap --csv --instruments au2612");
    std::istringstream lines(r.out);
    std::string header, row;
    std::getline(lines, header);
    EXPECT_EQ(header, mdtools::DepthCsvHeader());
    std::getline(lines, row);
    EXPECT_EQ(row, mdtools::DepthCsvRow((Day + Second) / 1000, Record("20261209", 2, "au2612")));
}

TEST_F(MdcapTest, CutKeepsTheRecordsOfItsWindow)
{
    const auto r = Mdcap("cut a.mdcap --from 2026-12-09T10:11:13Z --to 2026-12-09T10:11:15Z -o part.mdcap");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "part.mdcap: 2 records\n");
    std::string error;
    auto reader = Reader::Open("part.mdcap", error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->Header().writer, WriterName);
    EXPECT_EQ(reader->Header().tradingDay, "20261209");
    const auto back = capturetest::ReadAll(*reader);
    EXPECT_EQ(back.times, (std::vector<std::int64_t>{Day + Second, Day + 2 * Second}));
    EXPECT_EQ(Mdcap("cut a.mdcap --from 10:00:00 --to 11:00:00 -o part.mdcap").code, 1)
        << "never over a file";
}

TEST_F(MdcapTest, MergeKeepsARecordOfBothCapturesOnceAndARepeatedOneAsOftenAsItCame)
{
    // One feed captured twice; the feed sent rb2601 volume 2 twice (at 2 s and 3 s).
    Capture("x.mdcap", {{"rb2601", 1, 1}, {"rb2601", 2, 2}, {"rb2601", 2, 3}, {"au2612", 7, 5}});
    Capture("y.mdcap", {{"rb2601", 1, 1}, {"rb2601", 2, 2}, {"rb2601", 2, 3}, {"ag2602", 9, 4}});
    const auto r = Mdcap("merge x.mdcap y.mdcap -o both.mdcap");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "both.mdcap: 5 records, 3 matched in another capture\n");
    std::string error;
    auto reader = Reader::Open("both.mdcap", error);
    ASSERT_TRUE(reader) << error;
    const auto back = capturetest::ReadAll(*reader);
    EXPECT_TRUE(back.stop.clean);
    std::vector<std::pair<std::string, int>> records;
    for (const auto& bytes : back.records) {
        CThostFtdcDepthMarketDataField d;
        std::memcpy(&d, bytes.data(), sizeof d);
        records.emplace_back(d.InstrumentID, d.Volume);
    }
    EXPECT_EQ(records,
              (std::vector<std::pair<std::string, int>>{
                  {"rb2601", 1}, {"rb2601", 2}, {"rb2601", 2}, {"ag2602", 9}, {"au2612", 7}}));
    EXPECT_TRUE(std::is_sorted(back.times.begin(), back.times.end()));
}
