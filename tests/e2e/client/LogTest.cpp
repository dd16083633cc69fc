// The client's log: its file under the working directory, its record
// layout, and a working directory where no log can be written.
#include "E2eSupport.h"

#include <cctype>
#include <fstream>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace e2e {
namespace {

namespace fs = std::filesystem;

// "YYYY-MM-DD HH:MM:SS.mmm <lvl>[   KVMDApi][<tag, 12 wide>] - <message>"
bool HasRecordLayout(const std::string& line)
{
    static const char stamp[] = "dddd-dd-dd dd:dd:dd.ddd ";
    if (line.size() < 58)
        return false;
    for (std::size_t i = 0; i + 1 < sizeof stamp; ++i)
        if (stamp[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != stamp[i])
            return false;
    const std::string level = line.substr(24, 5);
    return (level == "<err>" || level == "<war>" || level == "<app>" || level == "<dbg>") &&
        line.compare(29, 13, "[   KVMDApi][") == 0 && line.compare(54, 4, "] - ") == 0;
}

bool HasRecord(const std::vector<std::string>& lines, const std::string& message)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.size() >= message.size() &&
            l.compare(l.size() - message.size(), message.size(), message) == 0;
    });
}

class LogTest : public ClientTest {
protected:
    // Logged in, subscribed, and depth data flowing.
    mdfront::FrontServer& RunSession()
    {
        mdfront::FrontServer& front = AddFront(BaseConfig());
        session_->instruments = {"au2612"};
        StartClient({Address(front)});
        EXPECT_TRUE(session_->WaitCount(Kind::Depth, 3));
        EXPECT_EQ(session_->Count(Kind::Login), 1u);
        return front;
    }
};

TEST_F(LogTest, RecordsLandInTheDailyFileUnderTheWorkingDirectory)
{
    const mdfront::FrontServer& front = RunSession();
    const std::vector<std::string> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines)
        EXPECT_TRUE(HasRecordLayout(line)) << line;
    EXPECT_TRUE(HasRecord(lines, "RegisterFront : " + Address(front)));
    EXPECT_TRUE(HasRecord(lines, "OnConnectOk end"));
    for (const auto& entry : fs::directory_iterator("KVMDLog")) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.size(), std::string("KVMDLog_YYYYMMDD.log").size()) << name;
        EXPECT_EQ(name.rfind("KVMDLog_", 0), 0u) << name;
    }
}

struct Unwritable {
    const char* name;
    // Makes the working directory one where ./KVMDLog cannot be written;
    // false when the process could write it all the same.
    bool (*prepare)();
};

const Unwritable Directories[] = {
    {"ReadOnlyWorkingDirectory",
     [] {
#ifdef _WIN32
         return false;
#else
         // Permissions do not hold the superuser back.
         fs::permissions(".",
                         fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
         return ::geteuid() != 0;
#endif
     }},
    {"LogFolderNameTakenByAFile",
     [] {
         std::ofstream("KVMDLog") << "not a folder\n";
         return true;
     }},
};

void PrintTo(const Unwritable& u, std::ostream* out)
{
    *out << u.name;
}

class UnwritableLog : public LogTest, public ::testing::WithParamInterface<Unwritable> {};

TEST_P(UnwritableLog, DataStillFlows)
{
    if (!GetParam().prepare())
        GTEST_SKIP() << "the log folder would be writable here";
    RunSession();
    EXPECT_FALSE(fs::is_directory("KVMDLog"));
    EXPECT_TRUE(LogLines().empty());
}

INSTANTIATE_TEST_SUITE_P(Log, UnwritableLog, ::testing::ValuesIn(Directories),
                         [](const ::testing::TestParamInfo<Unwritable>& info) { return info.param.name; });

} // namespace
} // namespace e2e
