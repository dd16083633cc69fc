// mdcli's command line.
#include "CliOptions.h"
#include "LinkSummary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace toolstest {
namespace {

using mdcli::CliOptions;

TEST(CliOptionsTest, FlagsAndTheirErrors)
{
    CliOptions o;
    std::string error;
    ASSERT_TRUE(mdcli::ParseCliOptions({"--front", "tcp://127.0.0.1:7000", "--front=tcp://h:1",
                                        "--instruments", "a,,b", "--forquote", "c", "--csv",
                                        "x.csv", "--duration", "2.5", "--quiet", "--user", "u", "--links", "2"},
                                       o, error))
        << error;
    EXPECT_EQ(o.fronts.size(), 2u);
    EXPECT_EQ(o.instruments, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(o.forquote, std::vector<std::string>{"c"});
    EXPECT_EQ(o.duration_seconds, 2.5);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.user, "u");
    EXPECT_EQ(o.links, 2);
    const std::vector<std::vector<std::string>> bad = {
        {}, {"--front", "127.0.0.1:7000"}, {"--front", "tcp://h:0"}, {"--front", "tcp://:5"},
        {"--front", "tcp://h:1", "--nosuch", "1"}, {"--front", "tcp://h:1", "--duration", "x"},
        {"--front"}, {"--front", "tcp://h:1", "--links", "0"}, {"--front", "tcp://h:1", "--links", "9"}};
    for (const auto& args : bad) {
        CliOptions b;
        EXPECT_FALSE(mdcli::ParseCliOptions(args, b, error));
        EXPECT_FALSE(error.empty());
    }
    CliOptions h;
    EXPECT_TRUE(mdcli::ParseCliOptions({"--help"}, h, error));
    EXPECT_TRUE(h.help);
    for (const char* flag : {"--front", "--user", "--password", "--broker", "--instruments",
                             "--forquote", "--csv", "--duration", "--links", "--quiet", "--help"})
        EXPECT_NE(mdcli::CliUsage().find(flag), std::string::npos) << flag;
    EXPECT_NE(mdcli::CliUsage().find("at most 1000 instruments"), std::string::npos);
}

TEST(LinkSummaryTest, OneLinePerLinkWithItsLateness)
{
    mdlink::RedundantLinkCounters c[2] = {};
    std::snprintf(c[0].Fronts, sizeof c[0].Fronts, "tcp://a:1");
    c[0].Up = 1;
    c[0].First = 10;
    c[1].Copies = 10;
    c[1].LateTimed = 100;
    c[1].Late[3] = 60;  // [100, 300) us
    c[1].Late[5] = 39;  // [1, 3) ms
    c[1].Late[9] = 1;   // 100 ms or more
    c[1].LateMaxUs = 150000;
    const std::vector<std::string> lines = mdcli::LinkSummary(c, 2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "link 0 [tcp://a:1]: up, first 10, copies 0, older 0, held 0; came up 0 times, "
                        "lost 0; copies late: half -, 99% -, at most 0us (0 timed)");
    EXPECT_NE(lines[1].find("copies late: half <300us, 99% <3000us, at most 150000us (100 timed)"),
              std::string::npos)
        << lines[1];
}

} // namespace
} // namespace toolstest
