// mdcli's command line.
#include "CliOptions.h"

#include <gtest/gtest.h>
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
                                        "x.csv", "--duration", "2.5", "--quiet", "--user", "u"},
                                       o, error))
        << error;
    EXPECT_EQ(o.fronts.size(), 2u);
    EXPECT_EQ(o.instruments, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(o.forquote, std::vector<std::string>{"c"});
    EXPECT_EQ(o.duration_seconds, 2.5);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.user, "u");
    const std::vector<std::vector<std::string>> bad = {
        {}, {"--front", "127.0.0.1:7000"}, {"--front", "tcp://h:0"}, {"--front", "tcp://:5"},
        {"--front", "tcp://h:1", "--nosuch", "1"}, {"--front", "tcp://h:1", "--duration", "x"},
        {"--front"}};
    for (const auto& args : bad) {
        CliOptions b;
        EXPECT_FALSE(mdcli::ParseCliOptions(args, b, error));
        EXPECT_FALSE(error.empty());
    }
    CliOptions h;
    EXPECT_TRUE(mdcli::ParseCliOptions({"--help"}, h, error));
    EXPECT_TRUE(h.help);
    for (const char* flag : {"--front", "--user", "--password", "--broker", "--instruments",
                             "--forquote", "--csv", "--duration", "--quiet", "--help"})
        EXPECT_NE(mdcli::CliUsage().find(flag), std::string::npos) << flag;
    EXPECT_NE(mdcli::CliUsage().find("at most 1000 instruments"), std::string::npos);
}

} // namespace
} // namespace toolstest
