// A tool's metrics page: the merge with the library's page, the histogram,
// the redundant links' families, and fetching the library's page from
// peers that answer, refuse, cut short or never answer.
#include "ToolMetrics.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

using mdlink::metrics::ExpositionWriter;
using mdlink::metrics::ListenAddress;
using mdlink::metrics::Listener;

struct MergeCase {
    const char* name;
    const char* library;
    const char* own;
    const char* merged;
};

TEST(ToolMetricsTest, MergePagesKeepsEachFamilyTogether)
{
    const MergeCase cases[] = {
        {"NoLibraryPage", "", "# TYPE a gauge\na 1\n", "# TYPE a gauge\na 1\n"},
        {"SameFamilyJoins", "# HELP a A.\n# TYPE a gauge\na{client=\"1\"} 1\n# TYPE b counter\nb 2\n",
         "# HELP a A.\n# TYPE a gauge\na{client=\"t\"} 0\n",
         "# HELP a A.\n# TYPE a gauge\na{client=\"1\"} 1\na{client=\"t\"} 0\n# TYPE b counter\nb 2\n"},
        // A name that starts with another's is another family.
        {"LongerNameIsAnother", "# TYPE c gauge\nc 1\n",
         "# TYPE c_accepted_total counter\nc_accepted_total 3\n",
         "# TYPE c gauge\nc 1\n# TYPE c_accepted_total counter\nc_accepted_total 3\n"},
        {"HistogramSeriesJoin",
         "# TYPE h histogram\nh_bucket{l=\"1\",le=\"+Inf\"} 2\nh_sum{l=\"1\"} 1\nh_count{l=\"1\"} 2\n",
         "# TYPE h histogram\nh_bucket{l=\"2\",le=\"+Inf\"} 0\nh_sum{l=\"2\"} 0\nh_count{l=\"2\"} 0\n",
         "# TYPE h histogram\nh_bucket{l=\"1\",le=\"+Inf\"} 2\nh_sum{l=\"1\"} 1\nh_count{l=\"1\"} 2\n"
         "h_bucket{l=\"2\",le=\"+Inf\"} 0\nh_sum{l=\"2\"} 0\nh_count{l=\"2\"} 0\n"},
        {"LastLineUnended", "# TYPE a gauge\na 1", "# TYPE z gauge\nz 2\n",
         "# TYPE a gauge\na 1\n# TYPE z gauge\nz 2\n"},
        {"FamilyWithoutSamples", "# TYPE a gauge\n# TYPE b gauge\nb 1\n", "# TYPE a gauge\na 5\n",
         "# TYPE a gauge\na 5\n# TYPE b gauge\nb 1\n"},
    };
    for (const MergeCase& c : cases)
        EXPECT_EQ(mdtools::MergePages(c.library, c.own), c.merged) << c.name;
}

TEST(ToolMetricsTest, HistogramCountsAValueAtABoundInThatBucket)
{
    mdtools::SecondsHistogram h({0.001, 0.01});
    for (double v : {0.0, 0.001, 0.0011, 0.01, 0.5})
        h.Observe(v);
    ExpositionWriter out;
    h.Write(out, "x_seconds", {{"k", "v"}});
    EXPECT_EQ(out.Text(),
              "x_seconds_bucket{k=\"v\",le=\"0.001\"} 2\n"
              "x_seconds_bucket{k=\"v\",le=\"0.01\"} 4\n"
              "x_seconds_bucket{k=\"v\",le=\"+Inf\"} 5\n"
              "x_seconds_sum{k=\"v\"} 0.5121\n"
              "x_seconds_count{k=\"v\"} 5\n");
}

TEST(ToolMetricsTest, LinksShowEachLinksFiguresUnderItsLabels)
{
    ExpositionWriter none;
    mdtools::WriteLinks(none, "t", nullptr, 0);
    EXPECT_EQ(none.Text(), "");

    mdlink::RedundantLinkCounters links[2] = {};
    std::strcpy(links[0].Fronts, "tcp://a:1");
    std::strcpy(links[1].Fronts, "tcp://b:2");
    links[0].LoggedIn = links[1].Up = 1;
    links[1].Reconnections = 3;
    links[0].First = 5;
    links[1].Late[0] = 1;                                // under 10 us
    links[1].Late[mdlink::RedundantLateBuckets - 1] = 2; // 100 ms or more
    links[1].LateSumUs = 250005;
    ExpositionWriter out;
    mdtools::WriteLinks(out, "t", links, 2);
    const std::string page = out.Text();
    const std::string l0 = "{client=\"t\",front=\"tcp://a:1\",link=\"0\"}";
    const std::string l1 = "{client=\"t\",front=\"tcp://b:2\",link=\"1\"}";
    const std::string late =
        "mdlink_redundant_lateness_seconds_bucket{client=\"t\",front=\"tcp://b:2\",link=\"1\",le=";
    for (const std::string& line :
         {"mdlink_logged_in" + l0 + " 1", "mdlink_logged_in" + l1 + " 0", "mdlink_connected" + l1 + " 1",
          "mdlink_reconnections_total" + l1 + " 3", "mdlink_redundant_first_total" + l0 + " 5",
          late + "\"1e-05\"} 1", late + "\"0.1\"} 1", "mdlink_redundant_lateness_seconds_count" + l1 + " 3",
          "mdlink_redundant_lateness_seconds_sum" + l1 + " 0.250005"})
        EXPECT_NE(page.find(line + "\n"), std::string::npos) << line << "\n" << page;
}

// A peer on loopback that answers the first connection with `answer` and
// closes; with hold, it keeps the connection open instead.
class Peer {
public:
    Peer(std::string answer, bool hold) : acceptor_(io_, {asio::ip::address_v4::loopback(), 0})
    {
        thread_ = std::thread([this, answer, hold] {
            asio::error_code ec;
            asio::ip::tcp::socket socket(io_);
            acceptor_.accept(socket, ec);
            char head[1024];
            socket.read_some(asio::buffer(head), ec);
            if (!hold) {
                asio::write(socket, asio::buffer(answer), ec);
                socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
                return;
            }
            socket.read_some(asio::buffer(head), ec); // until the fetcher gives up and closes
        });
    }
    ~Peer() { thread_.join(); }
    unsigned short Port() const { return acceptor_.local_endpoint().port(); }

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    std::thread thread_;
};

struct FetchCase {
    const char* name;
    const char* answer;
    bool hold;
    bool fetched;
    const char* body;
};

TEST(ToolMetricsTest, FetchPageTakesOnlyAWhole200Answer)
{
    const FetchCase cases[] = {
        {"Ok", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\na 1\n", false, true, "a 1\n"},
        {"NotFound", "HTTP/1.1 404 Not Found\r\n\r\n", false, false, ""},
        {"NoHeadEnd", "HTTP/1.1 200 OK\r\nContent-Le", false, false, ""},
        {"NeverAnswers", "", true, false, ""},
    };
    for (const FetchCase& c : cases) {
        Peer peer(c.answer, c.hold);
        std::string body;
        EXPECT_EQ(mdtools::FetchPage(peer.Port(), std::chrono::milliseconds(200), body), c.fetched) << c.name;
        EXPECT_EQ(body, c.body) << c.name;
    }
}

TEST(ToolMetricsTest, APageWithoutTheLibrarysSaysSoAndStillServesTheTools)
{
    const auto own = [](ExpositionWriter& out) {
        out.Family("mdlink_connected", "gauge", "Own.");
        out.Sample("mdlink_connected", {{"client", "t"}}, std::uint64_t{1});
    };
    std::string error;
    std::unique_ptr<Listener> library = Listener::Start(
        ListenAddress{"127.0.0.1", 0},
        [] {
            return std::string("# HELP mdlink_connected Lib.\n# TYPE mdlink_connected gauge\n"
                               "mdlink_connected{client=\"1\"} 0\n");
        },
        error);
    ASSERT_TRUE(library) << error;
    auto merged = mdtools::ToolMetrics::Start(ListenAddress{"127.0.0.1", 0}, own, library->Port(), error);
    ASSERT_TRUE(merged) << error;
    EXPECT_EQ(merged->Page(),
              "# HELP mdlink_connected Lib.\n# TYPE mdlink_connected gauge\n"
              "mdlink_connected{client=\"1\"} 0\nmdlink_connected{client=\"t\"} 1\n"
              "# HELP mdlink_tool_library_page_up 1 when the library's own page could be "
              "fetched for this scrape.\n# TYPE mdlink_tool_library_page_up gauge\n"
              "mdlink_tool_library_page_up 1\n");
    // The library's listener gone: its port now refuses.
    const unsigned short gone = library->Port();
    library.reset();
    auto alone = mdtools::ToolMetrics::Start(ListenAddress{"127.0.0.1", 0}, own, gone, error);
    ASSERT_TRUE(alone) << error;
    const std::string page = alone->Page();
    EXPECT_NE(page.find("\nmdlink_tool_library_page_up 0\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\nmdlink_connected{client=\"t\"} 1\n"), std::string::npos) << page;
    EXPECT_EQ(page.find("client=\"1\""), std::string::npos) << page;
}

} // namespace
