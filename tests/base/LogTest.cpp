// Kelvo_Log against real files, each test in its own temporary directory:
// line format, whole lines under concurrent writers and several objects on
// one file, directory creation, failures swallowed, mode 0, old files purged.
#include "KelvoBase.h"
#include "UnderWine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class LogTest : public testing::Test {
protected:
    void SetUp() override
    {
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
            ("kelvolog-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<fs::path> Files(const fs::path& dir) const
    {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(dir))
            files.push_back(entry.path());
        return files;
    }
    static std::vector<std::string> Lines(const fs::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        std::vector<std::string> lines;
        std::string text = all.str();
        EXPECT_TRUE(text.empty() || text.back() == '\n');
        std::size_t at = 0;
        for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
            lines.push_back(text.substr(at, nl - at));
        return lines;
    }

    fs::path dir_;
};

// "YYYY-MM-DD HH:MM:SS.mmm text": the date as YYYYMMDD and the text, or
// false when the line does not start with such a stamp.
bool SplitStamp(const std::string& line, std::string& date, std::string& text)
{
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
    if (line.size() < shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == 'd' ? !digit : line[i] != shape[i])
            return false;
    }
    date = line.substr(0, 4) + line.substr(5, 2) + line.substr(8, 2);
    text = line.substr(shape.size());
    return true;
}

// "w<object>.<thread> #<i> <pad> end"
bool ParseWriterLine(const std::string& text, int& object, int& thread, int& index, std::string& pad)
{
    int consumed = 0;
    if (std::sscanf(text.c_str(), "w%d.%d #%d %n", &object, &thread, &index, &consumed) != 3 || consumed == 0)
        return false;
    const std::string rest = text.substr(static_cast<std::size_t>(consumed));
    if (rest.size() < 4 || rest.compare(rest.size() - 4, 4, " end") != 0)
        return false;
    pad = rest.substr(0, rest.size() - 4);
    return pad.find(' ') == std::string::npos;
}

TEST_F(LogTest, ALineIsALocalTimeStampWithMillisecondsThenTheText)
{
    Kelvo_Log log(1);
    ASSERT_EQ(log.SetMainDir(dir_.string().c_str()), 0);
    ASSERT_EQ(log.Init("Unit", 5), 0);
    log.Trace(3, "%s - %s %d", "Tag", "hello", 42);
    const std::vector<fs::path> files = Files(dir_);
    ASSERT_EQ(files.size(), 1u);
    const std::vector<std::string> lines = Lines(files[0]);
    ASSERT_EQ(lines.size(), 1u);
    std::string date;
    std::string text;
    ASSERT_TRUE(SplitStamp(lines[0], date, text)) << lines[0];
    EXPECT_EQ(text, "Tag - hello 42");
    // The file is named for the day of its lines.
    EXPECT_EQ(files[0].filename().string(), "Unit_" + date + ".log");
}

TEST_F(LogTest, ConcurrentWritersOnOneFileKeepEveryLineWhole)
{
    if (kelvotest::UnderWine())
        GTEST_SKIP() << "Wine appends through several handles of one file in two steps (end of "
                        "file, then write), so concurrent lines overwrite each other; Windows "
                        "appends each write whole";
    constexpr int kObjects = 3;
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    std::vector<std::unique_ptr<Kelvo_Log>> logs;
    for (int i = 0; i < kObjects; ++i) {
        logs.push_back(std::make_unique<Kelvo_Log>(1));
        logs.back()->SetMainDir(dir_.string().c_str());
        logs.back()->Init("Shared", 0);
    }
    std::vector<std::thread> threads;
    for (int o = 0; o < kObjects; ++o) {
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, o, t] {
                for (int i = 0; i < kLines; ++i) {
                    // Every 50th line is longer than the stack buffer.
                    const std::string pad(i % 50 == 0 ? 5000 : 100 + i % 200, char('a' + t));
                    logs[o]->Trace(3, "w%d.%d #%d %s end", o, t, i, pad.c_str());
                }
            });
        }
    }
    for (std::thread& thread : threads)
        thread.join();
    const std::vector<fs::path> files = Files(dir_);
    ASSERT_EQ(files.size(), 1u);
    std::map<std::pair<int, int>, int> next;
    int broken = 0;
    const std::vector<std::string> lines = Lines(files[0]);
    for (const std::string& line : lines) {
        std::string date;
        std::string text;
        std::string pad;
        int o = -1;
        int t = -1;
        int i = -1;
        if (!SplitStamp(line, date, text) || !ParseWriterLine(text, o, t, i, pad)) {
            ++broken;
            continue;
        }
        const std::size_t padLength = i % 50 == 0 ? 5000 : 100 + i % 200;
        if (pad != std::string(padLength, char('a' + t)))
            ++broken;
        // One writer's lines stay in its order.
        EXPECT_EQ(next[std::make_pair(o, t)]++, i);
    }
    EXPECT_EQ(broken, 0);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kObjects * kThreads * kLines));
}

TEST_F(LogTest, SetMainDirCreatesMissingDirectories)
{
    const fs::path nested = dir_ / "a" / "b" / "c";
    Kelvo_Log log(1);
    EXPECT_EQ(log.SetMainDir(nested.string().c_str()), 0);
    EXPECT_TRUE(fs::is_directory(nested));
    log.Init("Deep", 1);
    log.Trace(1, "x");
    EXPECT_EQ(Files(nested).size(), 1u);
}

TEST_F(LogTest, ARelativeDirectoryIsUnderTheWorkingDirectory)
{
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    {
        Kelvo_Log log(1);
        log.SetMainDir("./KVMDLog");
        log.Init("KVMDLog", 5);
        log.Trace(3, "%s - %s", "A", "B");
    }
    fs::current_path(previous);
    ASSERT_TRUE(fs::is_directory(dir_ / "KVMDLog"));
    EXPECT_EQ(Files(dir_ / "KVMDLog").size(), 1u);
}

TEST_F(LogTest, AnUnwritableDirectoryIsSwallowed)
{
    const fs::path file = dir_ / "plain-file";
    std::ofstream(file) << "not a directory";
    const fs::path below = file / "logs";
    Kelvo_Log log(1);
    EXPECT_EQ(log.SetMainDir(below.string().c_str()), -1);
    log.Init("Lost", 5);
    for (int i = 0; i < 100; ++i)
        log.Trace(1, "line %d", i);
    EXPECT_EQ(Files(dir_).size(), 1u); // the plain file only
    EXPECT_EQ(fs::file_size(file), std::string("not a directory").size());
}

TEST_F(LogTest, ModeZeroWritesNothing)
{
    const fs::path dir = dir_ / "never";
    Kelvo_Log log(0);
    EXPECT_EQ(log.SetMainDir(dir.string().c_str()), 0);
    log.Init("Silent", 5);
    log.Trace(1, "not written %d", 1);
    EXPECT_FALSE(fs::exists(dir));
}

std::string DateName(const std::string& name, int date)
{
    char text[16];
    std::snprintf(text, sizeof text, "_%08d.log", date);
    return name + text;
}

// The date `days` before `date` (YYYYMMDD), by the C library's calendar.
int DaysBefore(int date, int days)
{
    std::tm tm{};
    tm.tm_year = date / 10000 - 1900;
    tm.tm_mon = date / 100 % 100 - 1;
    tm.tm_mday = date % 100 - days;
    tm.tm_hour = 12;
    std::mktime(&tm);
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

TEST_F(LogTest, OpeningADaysFileDeletesThisNamesFilesOlderThanKeepDays)
{
    Kelvo_Log log(1);
    log.SetMainDir(dir_.string().c_str());
    log.Init("Old", 3);
    log.Trace(1, "first");
    const std::vector<fs::path> files = Files(dir_);
    ASSERT_EQ(files.size(), 1u);
    const std::string current = files[0].filename().string();
    const int today = std::stoi(current.substr(4, 8));

    const std::vector<std::string> kept = {DateName("Old", DaysBefore(today, 1)),
                                           DateName("Old", DaysBefore(today, 2)),
                                           DateName("Older", DaysBefore(today, 30)), "Old_notadate.log",
                                           DateName("Other", DaysBefore(today, 9))};
    const std::vector<std::string> purged = {DateName("Old", DaysBefore(today, 3)),
                                             DateName("Old", DaysBefore(today, 40)),
                                             DateName("Old", DaysBefore(today, 400))};
    for (const std::string& name : kept)
        std::ofstream(dir_ / name) << "x";
    for (const std::string& name : purged)
        std::ofstream(dir_ / name) << "x";

    log.Init("Old", 3); // the next line opens the day's file again
    log.Trace(1, "second");
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(dir_ / name)) << name;
    for (const std::string& name : purged)
        EXPECT_FALSE(fs::exists(dir_ / name)) << name;
    EXPECT_EQ(Lines(dir_ / current).size(), 2u);
}

TEST_F(LogTest, KeepDaysZeroKeepsEverything)
{
    const std::string ancient = DateName("All", 20000101);
    std::ofstream(dir_ / ancient) << "x";
    Kelvo_Log log(1);
    log.SetMainDir(dir_.string().c_str());
    log.Init("All", 0);
    log.Trace(1, "line");
    EXPECT_TRUE(fs::exists(dir_ / ancient));
    EXPECT_EQ(Files(dir_).size(), 2u);
}

} // namespace
