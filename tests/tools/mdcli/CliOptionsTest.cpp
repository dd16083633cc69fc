// mdcli's command line.
#include "CliOptions.h"
#include "LinkSummary.h"
#include "ToolsTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace toolstest {
namespace {

using mdcli::CliOptions;

TEST(CliOptionsTest, FlagsAndTheirErrors)
{
    CliOptions o;
    std::string error;
    ASSERT_TRUE(
        mdcli::ParseCliOptions({"--front", "tcp://127.0.0.1:7000", "--front=tcp://h:1", "--instruments",
                                "a,,b", "--forquote", "c", "--csv", "x.csv", "--duration", "2.5", "--quiet",
                                "--user", "u", "--links", "2", "--metrics", ":9464"},
                               o, error))
        << error;
    EXPECT_EQ(o.fronts.size(), 2u);
    EXPECT_EQ(o.instruments, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(o.forquote, std::vector<std::string>{"c"});
    EXPECT_EQ(o.duration_seconds, 2.5);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.user, "u");
    EXPECT_EQ(o.links, 2);
    EXPECT_EQ(o.metrics, ":9464");
    CliOptions blanks;
    EXPECT_TRUE(
        mdcli::ParseCliOptions({"--front", "tcp://h:1", "--links", " 3 "}, blanks, error)); // as MDLINK_LINKS
    EXPECT_EQ(blanks.links, 3);
    const std::vector<std::vector<std::string>> bad = {{},
                                                       {"--front", "127.0.0.1:7000"},
                                                       {"--front", "tcp://h:0"},
                                                       {"--front", "tcp://:5"},
                                                       {"--front", "tcp://h:1", "--nosuch", "1"},
                                                       {"--front", "tcp://h:1", "--duration", "x"},
                                                       {"--front"},
                                                       {"--front", "tcp://h:1", "--links", "0"},
                                                       {"--front", "tcp://h:1", "--links", "9"},
                                                       {"--front", "tcp://h:1", "--links", "+2"},
                                                       {"--front", "tcp://h:1", "--links", "2x"},
                                                       {"--front", "tcp://h:1", "--metrics", "9464"},
                                                       {"--front", "tcp://h:1", "--metrics", "::1:9464"}};
    for (const auto& args : bad) {
        CliOptions b;
        EXPECT_FALSE(mdcli::ParseCliOptions(args, b, error));
        EXPECT_FALSE(error.empty());
    }
    CliOptions h;
    EXPECT_TRUE(mdcli::ParseCliOptions({"--help"}, h, error));
    EXPECT_TRUE(h.help);
    for (const char* flag :
         {"--front", "--user", "--password", "--password-file", "--broker", "--instruments", "--forquote",
          "--csv", "--duration", "--links", "--metrics", "--quiet", "--help", "MDCLI_PASSWORD"})
        EXPECT_NE(mdcli::CliUsage().find(flag), std::string::npos) << flag;
    EXPECT_NE(mdcli::CliUsage().find("at most 1000 instruments"), std::string::npos);
}

// The capture flags, shared with both of mdrelay's modes.
TEST(CliOptionsTest, CaptureFlagsAndTheirBounds)
{
    CliOptions o;
    std::string error;
    ASSERT_TRUE(mdcli::ParseCliOptions(
        {"--front", "tcp://h:1", "--capture", "caps", "--capture-flush", "250", "--capture-queue", "16"}, o,
        error))
        << error;
    EXPECT_EQ(o.capture.directory, "caps");
    EXPECT_EQ(o.capture.flushMs, 250);
    EXPECT_EQ(o.capture.queueRecords, 16u);
    CliOptions d;
    ASSERT_TRUE(mdcli::ParseCliOptions({"--front", "tcp://h:1"}, d, error));
    EXPECT_TRUE(d.capture.directory.empty());
    EXPECT_EQ(d.capture.flushMs, 1000);
    EXPECT_EQ(d.capture.queueRecords, 0u); // the writer's own
    for (const std::vector<std::string>& more :
         std::vector<std::vector<std::string>>{{"--capture", ""},
                                               {"--capture-flush", "0"},
                                               {"--capture-flush", "3600001"},
                                               {"--capture-flush", "1.5"},
                                               {"--capture-queue", "1"},
                                               {"--capture-queue", "16777217"}}) {
        std::vector<std::string> args = {"--front", "tcp://h:1"};
        args.insert(args.end(), more.begin(), more.end());
        CliOptions b;
        EXPECT_FALSE(mdcli::ParseCliOptions(args, b, error)) << more[0] << " " << more[1];
        EXPECT_NE(error.find(more[0]), std::string::npos) << error;
    }
    for (const char* flag : {"--capture", "--capture-flush", "--capture-queue"})
        EXPECT_NE(mdcli::CliUsage().find(flag), std::string::npos) << flag;
}

TEST(LinkSummaryTest, OneLinePerLinkWithItsLateness)
{
    mdlink::RedundantLinkCounters c[2] = {};
    std::snprintf(c[0].Fronts, sizeof c[0].Fronts, "tcp://a:1");
    c[0].Up = 1;
    c[0].LoggedIn = 1;
    c[0].First = 10;
    c[0].Records = 12;
    c[0].LastRecordAgeMs = 40;
    c[1].LastRecordAgeMs = -1;
    c[1].Up = 1;
    c[1].LoginsRefused = 2;
    c[1].Copies = 10;
    c[1].LateTimed = 100;
    c[1].Late[3] = 60; // [100, 300) us
    c[1].Late[5] = 39; // [1, 3) ms
    c[1].Late[9] = 1;  // 100 ms or more
    c[1].LateMaxUs = 150000;
    const std::vector<std::string> lines = mdtools::LinkSummary(c, 2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "link 0 [tcp://a:1]: usable, records 12 (last 40ms ago), first 10, copies 0 (late 0), "
              "older 0, held 0; came up 0 times, lost 0, logins refused 0, unanswered 0; "
              "copies late: half -, 99% -, at most 0us (0 timed)");
    EXPECT_EQ(lines[1].rfind("link 1 []: up, not logged in, records 0 (last - ago)", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("logins refused 2,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("copies late: half <300us, 99% <3000us, at most 150000us (100 timed)"),
              std::string::npos)
        << lines[1];
}

class CliPasswordTest : public TempDirTest {};

// Where the password comes from: the flag, else the file, else the
// environment; and what is refused.
TEST_F(CliPasswordTest, FlagFileOrEnvironment)
{
    const std::string forty(40, 'x');
    const std::string tooLong = forty + "y";
    struct Case {
        std::vector<std::string> flags;
        const char* environment; // null: unset
        const char* file;        // written to pw.txt; null: no file
        bool ok;
        std::string password;
    };
    const Case cases[] = {
        {{"--password", "p"}, nullptr, nullptr, true, "p"},
        {{"--password", "p"}, "e", nullptr, true, "p"},
        {{"--password="}, "e", nullptr, true, ""},
        {{}, "e", nullptr, true, "e"},
        {{}, nullptr, nullptr, true, ""},
        {{"--password-file", "pw.txt"}, "e", "secret\nsecond line\n", true, "secret"},
        {{"--password-file=pw.txt"}, nullptr, "secret\r\n", true, "secret"},
        {{"--password-file", "pw.txt"}, nullptr, "no line end", true, "no line end"},
        {{"--password-file", "pw.txt"}, "e", "", true, ""},
        {{"--password-file", "missing.txt"}, "e", nullptr, false, ""},
        {{"--password", "p", "--password-file", "pw.txt"}, nullptr, "s\n", false, ""},
        {{"--password", forty}, nullptr, nullptr, true, forty},
        {{"--password", tooLong}, nullptr, nullptr, false, ""},
        {{}, tooLong.c_str(), nullptr, false, ""},
    };
    for (const Case& c : cases) {
        std::string what;
        for (const std::string& flag : c.flags)
            what += flag + " ";
        what += c.environment ? std::string("env ") + c.environment : "no env";
        std::filesystem::remove(dir_ / "pw.txt");
        if (c.file)
            std::ofstream(dir_ / "pw.txt", std::ios::binary) << c.file;
        std::vector<std::string> args = {"--front", "tcp://h:1"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        CliOptions o;
        std::string error;
        ASSERT_TRUE(mdcli::ParseCliOptions(args, o, error)) << what << ": " << error;
        EXPECT_EQ(mdtools::ResolvePassword(o, c.environment, error), c.ok) << what;
        if (c.ok)
            EXPECT_EQ(o.password, c.password) << what;
        else
            EXPECT_FALSE(error.empty()) << what;
    }
}

} // namespace
} // namespace toolstest
