// mdfront's command line.
#include "FrontOptions.h"
#include "faults/Fault.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace toolstest {
namespace {

TEST(FrontOptionsTest, FlagsFillTheConfig)
{
    mdfront::FrontOptions o;
    std::string error;
    const std::vector<std::string> args = {"--port",
                                           "7001",
                                           "--form=text",
                                           "--text-fields",
                                           "60",
                                           "--rate",
                                           "0",
                                           "--instruments",
                                           "au2612,IF2612,x1@DCE",
                                           "--user",
                                           "u",
                                           "--password",
                                           "p",
                                           "--silent-after-seconds",
                                           "1.5",
                                           "--close-after-frames",
                                           "0",
                                           "--trickle",
                                           "2",
                                           "--short-bodies",
                                           "--big-body",
                                           "900",
                                           "--refuse-logins",
                                           "--verbose",
                                           "--stamp-sequence",
                                           "--metrics",
                                           "0.0.0.0:9464"};
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
    EXPECT_EQ(o.metrics, "0.0.0.0:9464");
    EXPECT_TRUE(c.stamp_sequence);
    EXPECT_FALSE(c.faults.silent_after_frames.has_value());

    ASSERT_TRUE(
        mdfront::ParseFrontOptions({"--shared-feed", "--delay-ms", "2.5", "--jitter-ms", "0.3"}, o, error))
        << error;
    EXPECT_TRUE(o.config.shared_feed);
    EXPECT_EQ(o.config.delay, std::chrono::microseconds(2500));
    EXPECT_EQ(o.config.jitter, std::chrono::microseconds(300));
}

// Each flag acts when it is met: --exchange names the exchange of the ids
// in later --instruments only.
TEST(FrontOptionsTest, FlagsApplyInTheOrderGiven)
{
    const struct {
        std::vector<std::string> args;
        const char* exchange;
    } cases[] = {{{"--exchange", "DCE", "--instruments", "zz1"}, "DCE"},
                 {{"--instruments", "zz1", "--exchange", "DCE"}, "SHFE"},
                 {{"--exchange=INE", "--instruments=zz1,yy2"}, "INE"}};
    for (const auto& c : cases) {
        mdfront::FrontOptions o;
        std::string error;
        ASSERT_TRUE(mdfront::ParseFrontOptions(c.args, o, error)) << error;
        ASSERT_FALSE(o.config.instruments.empty());
        EXPECT_EQ(o.config.instruments[0].exchange, c.exchange) << c.args[0];
    }
}

TEST(FrontOptionsTest, BadInputIsRefusedWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {{"--nosuch"},
                                                       {"--port"},
                                                       {"--port", "70000"},
                                                       {"--form", "xml"},
                                                       {"--big-body", "800"},
                                                       {"--rate", "-1"},
                                                       {"stray"},
                                                       {"--text-fields", "0"},
                                                       {"--shared-feed", "--rate", "0"},
                                                       {"--delay-ms", "-1"},
                                                       {"--jitter-ms", "x"},
                                                       {"--metrics", "host:1"},
                                                       {"--metrics", ":65536"}};
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

// A value each fault flag accepts; a fault added without one fails below.
const std::map<std::string, std::string> FaultFlagSamples = {
    {"silent-after-seconds", "1"},
    {"silent-after-frames", "3"},
    {"close-after-frames", "3"},
    {"close-mid-body", "3"},
    {"refuse-logins", ""},
    {"unknown-frames", "2"},
    {"unknown-body-length", "9"},
    {"garbage-after-login", "5"},
    {"announce-body", "9000"},
    {"big-body", "900"},
    {"trickle", "1"},
    {"short-bodies", ""},
};

TEST(FaultRegistryTest, EachFaultsFirstFlagTurnsOnThatFaultAlone)
{
    EXPECT_TRUE(mdfront::MakeFaults(mdfront::FrontFaults{}).empty());
    for (const mdfront::FaultKind& kind : mdfront::FaultKinds()) {
        ASSERT_FALSE(kind.flags.empty());
        const mdfront::FaultFlag& flag = kind.flags.front();
        const auto sample = FaultFlagSamples.find(flag.name);
        ASSERT_NE(sample, FaultFlagSamples.end()) << flag.name;
        mdfront::FrontFaults settings;
        ASSERT_TRUE(flag.parse(sample->second, settings)) << flag.name;
        EXPECT_EQ(mdfront::MakeFaults(settings).size(), 1u) << flag.name;
    }
}

TEST(FaultRegistryTest, EveryFaultFlagIsAnMdfrontFlagWithHelp)
{
    const std::vector<std::string> names = mdfront::FrontFlagNames();
    const std::string help = mdfront::FrontUsage();
    std::size_t count = 0;
    for (const mdfront::FaultKind& kind : mdfront::FaultKinds()) {
        for (const mdfront::FaultFlag& flag : kind.flags) {
            ++count;
            EXPECT_NE(std::find(names.begin(), names.end(), flag.name), names.end()) << flag.name;
            EXPECT_NE(help.find(std::string("--") + flag.name), std::string::npos) << flag.name;
            EXPECT_NE(FaultFlagSamples.count(flag.name), 0u) << flag.name;
            // The value is checked: a count flag refuses text.
            mdfront::FrontFaults settings;
            if (flag.value) {
                EXPECT_FALSE(flag.parse("x", settings)) << flag.name;
            }
        }
    }
    EXPECT_EQ(count, FaultFlagSamples.size());
}

} // namespace
} // namespace toolstest
