// mdfront --metrics and mdcli --links 2 --metrics as programs: each page's
// figures move with what happens on the links, one front closing its
// connections after a few frames, and promtool accepts every page.
#include "ToolProcesses.h"

#include <csignal>

namespace promtest {
namespace {

TEST_F(ToolProcesses, FrontAndRedundantClientPagesFollowTheLinks)
{
    const Tool steady = StartFrontProgram("steady");
    const Tool closing = StartFrontProgram("closing", {"--close-after-frames", "40"});
    ASSERT_NE(steady.metrics * steady.port * closing.metrics * closing.port, 0);
    const Tool cli = StartCli("cli", {steady.port, closing.port}, {"--links", "2"});
    ASSERT_NE(cli.metrics, 0) << cli.child->Output();

    const std::string link0 =
        "{client=\"mdcli\",front=\"tcp://127.0.0.1:" + std::to_string(steady.port) + "\",link=\"0\"}";
    const std::string link1 =
        "{client=\"mdcli\",front=\"tcp://127.0.0.1:" + std::to_string(closing.port) + "\",link=\"1\"}";
    std::string page;
    // The closing front's link starts over with another of the library's
    // clients; the link's own count of reconnections goes on.
    ASSERT_TRUE(Eventually([&] {
        page = Scrape(cli.metrics);
        return SeriesValue(page, "mdlink_reconnections_total" + link1) >= 1 &&
            SeriesValue(page, "mdlink_logged_in" + link0) == 1;
    })) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_tool_library_page_up"), 1) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_reconnections_total" + link0), 0) << page;
    EXPECT_GT(SeriesValue(page, "mdlink_records_total" + link0), 0) << page;
    EXPECT_GT(SeriesValue(page, "mdlink_redundant_first_total" + link0) +
                  SeriesValue(page, "mdlink_redundant_first_total" + link1),
              0)
        << page;
    EXPECT_GT(SeriesValue(page, "mdlink_tool_records_delivered_total"), 0) << page;
    // The library's own page, merged in: its first client is link 0's.
    EXPECT_EQ(SeriesValue(page,
                          "mdlink_logged_in{client=\"1\",front=\"tcp://127.0.0.1:" +
                              std::to_string(steady.port) + "\"}"),
              1)
        << page;
    EXPECT_EQ(PromtoolVerdict(page, "cli.txt"), "") << page;

    page = Scrape(closing.metrics);
    EXPECT_GE(SeriesValue(page, "mdlink_front_connections_accepted_total"), 2) << page;
    EXPECT_GE(SeriesValue(page, "mdlink_front_faults_total{fault=\"close-after-frames\"}"), 1) << page;
    EXPECT_EQ(PromtoolVerdict(page, "closing.txt"), "") << page;
    page = Scrape(steady.metrics);
    EXPECT_EQ(SeriesValue(page, "mdlink_front_connections"), 1) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_front_connections_accepted_total"), 1) << page;
    EXPECT_GT(SeriesValue(page, "mdlink_front_records_sent_total"), 0) << page;
    EXPECT_GT(SeriesValue(page, "mdlink_front_sent_bytes_total"),
              SeriesValue(page, "mdlink_front_records_sent_total"))
        << page;
    EXPECT_EQ(page.find("mdlink_front_faults_total{"), std::string::npos) << page;
    EXPECT_EQ(PromtoolVerdict(page, "steady.txt"), "") << page;
    // A port that is taken ends either tool at once.
    const std::string taken = "127.0.0.1:" + std::to_string(steady.metrics);
    for (Tool t : {StartFrontProgram("front-taken", {"--metrics", taken}),
                   StartCli("cli-taken", {steady.port}, {"--metrics", taken})}) {
        EXPECT_EQ(t.child->Wait(Patience), 1) << t.child->Output();
        EXPECT_NE(t.child->Output().find("cannot serve metrics on " + taken), std::string::npos);
    }

    // The client gone: the steady front's connection closes, and no fault counts it.
    cli.child->Signal(SIGINT);
    EXPECT_EQ(cli.child->Wait(Patience), 0) << cli.child->Output();
    EXPECT_TRUE(Eventually([&] {
        page = Scrape(steady.metrics);
        return SeriesValue(page, "mdlink_front_connections") == 0;
    })) << page;
    EXPECT_EQ(page.find("mdlink_front_faults_total{"), std::string::npos) << page;
}

} // namespace
} // namespace promtest
