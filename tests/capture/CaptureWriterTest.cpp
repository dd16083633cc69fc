#include "CaptureWriter.h"
#include "CaptureFiles.h"
#include "RecordQueue.h"

#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace mdcapture;
using capturetest::Record;

namespace {

class CaptureWriterTest : public toolstest::TempDirTest {};

std::string Zeroed(const CThostFtdcDepthMarketDataField& record)
{
    std::string bytes(sizeof record, '\0');
    CopyZeroingPadding(record, bytes.data());
    return bytes;
}

constexpr std::int64_t Ms = 1000000;

} // namespace

TEST(CopyZeroingPaddingTest, ZeroesWhatNoMemberCoversAndKeepsTheRest)
{
    const auto record = Record("20261209", 42);
    const std::string copy = Zeroed(record);
    const auto* original = reinterpret_cast<const char*>(&record);
    for (auto [offset, length] : capturetest::PaddingBytes)
        EXPECT_EQ(copy.substr(offset, length), std::string(length, '\0')) << offset;
    // Every member byte kept: clear the padding in the original and compare.
    std::string expected(original, sizeof record);
    for (auto [offset, length] : capturetest::PaddingBytes)
        expected.replace(offset, length, length, '\0');
    EXPECT_EQ(copy, expected);
}

TEST(RecordQueueTest, RefusesWhenFullAndTakesAgainOnceASlotIsBack)
{
    EXPECT_EQ(RecordQueue(1).Capacity(), 2u);
    RecordQueue queue(3);
    ASSERT_EQ(queue.Capacity(), 4u);
    EXPECT_EQ(queue.Front(), nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(queue.Push(Record("20261209", i), i));
    EXPECT_FALSE(queue.Push(Record("20261209", 4), 4));
    ASSERT_NE(queue.Front(), nullptr);
    EXPECT_EQ(queue.Front()->receiveNs, 0);
    queue.Pop();
    EXPECT_TRUE(queue.Push(Record("20261209", 5), 5));
    // In order, records intact, around the ring's end.
    for (int expected : {1, 2, 3, 5}) {
        const auto* slot = queue.Front();
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(slot->receiveNs, expected);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot->bytes), sizeof slot->bytes),
                  Zeroed(Record("20261209", expected)));
        queue.Pop();
    }
    EXPECT_EQ(queue.Front(), nullptr);
}

TEST_F(CaptureWriterTest, RecordsReadBackByteForByteWithTheirTimes)
{
    WriterOptions options;
    options.directory = "out/captures";
    options.writer = "capture tests 1";
    options.fronts = {"tcp://a:1"};
    std::string error;
    auto writer = Writer::Open(options, error);
    ASSERT_TRUE(writer) << error;
    constexpr int Count = 3000;
    for (int i = 0; i < Count; ++i)
        ASSERT_TRUE(writer->Add(Record("20261209", i), 1700000000000000000 + i));
    writer->Close();
    writer->Close();
    const WriterStats stats = writer->Stats();
    EXPECT_EQ(stats.records, std::uint64_t(Count));
    EXPECT_EQ(stats.dropped, 0u);
    EXPECT_EQ(stats.files, 1u);
    EXPECT_EQ(writer->LastError(), "");
    const auto files = writer->Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(stats.bytes, std::filesystem::file_size(files[0]));

    auto reader = Reader::Open(files[0], error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->Header().writer, "capture tests 1");
    EXPECT_EQ(reader->Header().tradingDay, "20261209");
    EXPECT_EQ(reader->Header().fronts, options.fronts);
    const auto back = capturetest::ReadAll(*reader);
    EXPECT_TRUE(back.stop.clean) << back.stop.why;
    EXPECT_EQ(back.blocks.size(), stats.blocks);
    ASSERT_EQ(back.records.size(), std::size_t(Count));
    for (int i = 0; i < Count; ++i) {
        ASSERT_EQ(back.times[i], 1700000000000000000 + i);
        ASSERT_EQ(back.records[i], Zeroed(Record("20261209", i))) << i;
    }
}

// Receiving threads adding at once: every record arrives once, each
// thread's in its order (the ring has room for all: nothing is dropped).
TEST_F(CaptureWriterTest, SeveralThreadsAddAtOnce)
{
    WriterOptions options;
    options.directory = "out";
    std::string error;
    auto writer = Writer::Open(options, error);
    ASSERT_TRUE(writer) << error;
    constexpr int Threads = 3, Each = 5000;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&writer, t] {
            for (int i = 0; i < Each; ++i)
                writer->Add(Record("20261209", t * Each + i), t);
        });
    for (auto& thread : threads)
        thread.join();
    writer->Close();
    EXPECT_EQ(writer->Stats().records, std::uint64_t(Threads * Each));
    EXPECT_EQ(writer->Stats().dropped, 0u);
    auto reader = Reader::Open(writer->Files().at(0), error);
    ASSERT_TRUE(reader) << error;
    const auto back = capturetest::ReadAll(*reader);
    ASSERT_EQ(back.records.size(), std::size_t(Threads * Each));
    std::vector<int> next(Threads, 0);
    for (std::size_t i = 0; i < back.records.size(); ++i) {
        CThostFtdcDepthMarketDataField d;
        std::memcpy(&d, back.records[i].data(), sizeof d);
        const auto t = static_cast<int>(back.times[i]);
        ASSERT_EQ(d.Volume, t * Each + next[t]++) << "thread " << t;
    }
}

// A ring of one slot against a loop that adds without pause: whatever the
// writer thread manages to take, every refusal is counted, and the file
// holds exactly the records accepted.
TEST_F(CaptureWriterTest, RefusedRecordsAreCountedAndTheRestWritten)
{
    WriterOptions options;
    options.directory = "out";
    options.queueRecords = 1;
    std::string error;
    auto writer = Writer::Open(options, error);
    ASSERT_TRUE(writer) << error;
    constexpr int Count = 20000;
    std::uint64_t refused = 0;
    for (int i = 0; i < Count; ++i)
        refused += writer->Add(Record("20261209", i), i) ? 0 : 1;
    writer->Close();
    const WriterStats stats = writer->Stats();
    EXPECT_EQ(stats.dropped, refused);
    EXPECT_EQ(stats.records + stats.dropped, std::uint64_t(Count));
    std::size_t read = 0;
    for (const auto& path : writer->Files()) {
        auto reader = Reader::Open(path, error);
        ASSERT_TRUE(reader) << error;
        read += capturetest::ReadAll(*reader).records.size();
    }
    EXPECT_EQ(read, stats.records);
}

TEST_F(CaptureWriterTest, OpenFailsWhereNoDirectoryCanBe)
{
    capturetest::PutFile("plain", "a file, not a directory");
    WriterOptions options;
    options.directory = "plain/captures";
    std::string error;
    EXPECT_FALSE(Writer::Open(options, error));
    EXPECT_NE(error.find("plain/captures: cannot create the directory"), std::string::npos) << error;
}

TEST(FileNameTest, SortsByTime)
{
    EXPECT_EQ(FileNameAt(1765330200250000000, 1), "20251210-013000.250000-0001.mdcap");
    EXPECT_LT(FileNameAt(1765330200250000000, 9), FileNameAt(1765330200250001000, 1));
}

// CaptureFiles on the test's own clock: when blocks are cut and files begin.
struct FilesCase {
    const char* name;
    std::uint64_t rotateBytes;
    // Each step: a record of a trading day at a time, or a tick ("" day).
    std::vector<std::pair<const char*, std::int64_t>> steps;
    std::uint64_t blocks, files; // after the steps, before Close
    std::vector<std::string> days;
};

void PrintTo(const FilesCase& c, std::ostream* out)
{
    *out << c.name;
}

class CaptureFilesTest : public toolstest::TempDirTest, public ::testing::WithParamInterface<FilesCase> {};

TEST_P(CaptureFilesTest, CutsBlocksAndFiles)
{
    const FilesCase& c = GetParam();
    WriterOptions options;
    options.directory = ".";
    options.flushEvery = std::chrono::milliseconds(1000);
    options.rotateBytes = c.rotateBytes;
    FileCounters counters;
    std::int64_t names = 1765330200000000000;
    CaptureFiles files(options, counters, [&] { return names += 1000; });
    int volume = 0;
    for (const auto& [day, at] : c.steps) {
        if (*day == '\0') {
            files.Tick(at);
            continue;
        }
        char bytes[sizeof(CThostFtdcDepthMarketDataField)];
        CopyZeroingPadding(Record(day, ++volume), bytes);
        files.Add(bytes, at, at);
    }
    EXPECT_EQ(counters.blocks.load(), c.blocks);
    EXPECT_EQ(counters.files.load(), c.files);
    files.Close();
    EXPECT_EQ(counters.dropped.load(), 0u);
    // Every record is in a file of its trading day, in order.
    std::vector<std::string> days;
    int expected = 0;
    for (const auto& path : files.Files()) {
        std::string error;
        auto reader = Reader::Open(path, error);
        ASSERT_TRUE(reader) << error;
        days.push_back(reader->Header().tradingDay);
        for (const auto& record : capturetest::ReadAll(*reader).records) {
            CThostFtdcDepthMarketDataField d;
            std::memcpy(&d, record.data(), sizeof d);
            EXPECT_EQ(d.Volume, ++expected);
            EXPECT_EQ(d.TradingDay, days.back());
        }
    }
    EXPECT_EQ(expected, volume);
    EXPECT_EQ(days, c.days);
}

// A file that cannot be made: the record is dropped, counted, and why is
// kept; the next try comes a flush interval later, not with every record.
TEST_F(CaptureFilesTest, AFileThatCannotBeMadeDropsItsRecords)
{
    WriterOptions options;
    options.directory = "missing";
    FileCounters counters;
    int tries = 0;
    CaptureFiles files(options, counters, [&] {
        ++tries;
        return std::int64_t(1765330200000000000);
    });
    char bytes[sizeof(CThostFtdcDepthMarketDataField)];
    CopyZeroingPadding(Record("20261209", 1), bytes);
    const std::int64_t second = 1000000000;
    files.Add(bytes, 1, 1);
    files.Add(bytes, 2, second);
    EXPECT_EQ(tries, 1);
    files.Add(bytes, 3, second + 1);
    EXPECT_EQ(tries, 2);
    EXPECT_EQ(counters.dropped.load(), 3u);
    EXPECT_EQ(counters.files.load(), 0u);
    EXPECT_EQ(files.LastError().rfind("missing/20251210-013000.000000-000", 0), 0u) << files.LastError();
    EXPECT_NE(files.LastError().find("cannot create: No such file or directory"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptureFilesTest,
    ::testing::Values(FilesCase{"flush interval not yet passed",
                                1ull << 30,
                                {{"20261209", 0}, {"", 999 * Ms}},
                                0,
                                1,
                                {"20261209"}},
                      FilesCase{"flush interval passed",
                                1ull << 30,
                                {{"20261209", 0},
                                 {"20261209", 500 * Ms},
                                 {"", 1000 * Ms},
                                 {"20261209", 1500 * Ms},
                                 {"", 2499 * Ms},
                                 {"", 2500 * Ms}},
                                2,
                                1,
                                {"20261209"}},
                      FilesCase{"trading day changes",
                                1ull << 30,
                                {{"20261209", 0}, {"20261209", 1}, {"20261210", 2}, {"20261210", 3}},
                                1,
                                2,
                                {"20261209", "20261210"}},
                      FilesCase{"size bound reached",
                                1,
                                {{"20261209", 0}, {"", 1000 * Ms}, {"20261209", 1001 * Ms}, {"", 2001 * Ms}},
                                2,
                                2,
                                {"20261209", "20261209"}}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        return name;
    });
