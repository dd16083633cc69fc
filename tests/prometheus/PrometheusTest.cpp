// The tools' pages as Prometheus reads them. mdfront --metrics and mdcli
// --links 2 --metrics as programs: each page's figures move with what
// happens on the links, one front closing its connections after a few
// frames, and promtool accepts every page. Then a real Prometheus server
// scraping two mdfront programs, mdcli --links 2 on them and mdrelay into
// a real nats-server every second: one front is killed and started again
// on its port, and what Prometheus stored (read through its HTTP API)
// shows that link's login lost and its reconnection, and the relay's
// published count matching the stream.
#include "RelayFixture.h"
#include "Scrape.h"
#include "ToolMetrics.h"

#include <cctype>
#include <csignal>
#include <fstream>
#include <regex>

namespace relaytest {
namespace {

// The tools as programs: mdfront and mdcli started as children of the test
// (the relay's fixture starts mdrelay), each serving its page on a port of
// its own choosing.
class ToolProcesses : public RelayTest {
protected:
    struct Tool {
        Child* child = nullptr;
        unsigned short metrics = 0; // the page's port
        unsigned short port = 0;    // mdfront's front port
    };

    Tool Started(const std::string& program, const std::string& tool, const std::vector<std::string>& args,
                 const std::string& name)
    {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        tools_.push_back(std::make_unique<Child>());
        Tool t;
        t.child = tools_.back().get();
        EXPECT_TRUE(t.child->Start(argv, (dir_ / (name + ".out")).string()));
        t.metrics = MetricsPort(*t.child, tool);
        return t;
    }

    // mdfront --shared-feed at 50 records a second, these flags added.
    Tool StartFrontProgram(const std::string& name, const std::vector<std::string>& flags = {})
    {
        std::vector<std::string> args = {"--port",        "0",         "--shared-feed",
                                         "--rate",        "50",        "--instruments",
                                         "au2612,IF2612", "--metrics", "127.0.0.1:0"};
        args.insert(args.end(), flags.begin(), flags.end());
        Tool t = Started(MDFRONT_PROGRAM, "mdfront", args, name);
        std::smatch m;
        const std::string out = t.child->Output();
        if (std::regex_search(out, m, std::regex("mdfront listening on [^ ]*:([0-9]+)")))
            t.port = static_cast<unsigned short>(std::stoi(m[1]));
        return t;
    }

    // mdcli --quiet on these fronts, these flags added.
    Tool StartCli(const std::string& name, const std::vector<unsigned short>& fronts,
                  const std::vector<std::string>& flags)
    {
        std::vector<std::string> args = {"--quiet", "--instruments", "au2612,IF2612", "--metrics",
                                         "127.0.0.1:0"};
        for (unsigned short port : fronts)
            args.insert(args.end(), {"--front", "tcp://127.0.0.1:" + std::to_string(port)});
        args.insert(args.end(), flags.begin(), flags.end());
        return Started(MDCLI_PROGRAM, "mdcli", args, name);
    }

    std::vector<std::unique_ptr<Child>> tools_;
};

TEST_F(ToolProcesses, FrontAndRedundantClientPagesFollowTheLinks)
{
    const Tool steady = StartFrontProgram("steady");
    const Tool closing = StartFrontProgram("closing", {"--close-after-frames", "40"});
    ASSERT_TRUE(steady.metrics && steady.port && closing.metrics && closing.port);
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

std::string UrlEncoded(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '_' || c == '-' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

class PrometheusTest : public ToolProcesses {
protected:
    // Starts prometheus on a free loopback port scraping these targets
    // (job name -> "127.0.0.1:PORT"), and waits until it is ready.
    bool StartPrometheus(const std::vector<std::pair<std::string, unsigned short>>& targets)
    {
        std::string why;
        const std::string program = PrometheusProgram("prometheus", why);
        std::ofstream config(dir_ / "prometheus.yml");
        config << "global:\n  scrape_interval: 1s\n  scrape_timeout: 900ms\n  evaluation_interval: 1s\n"
                  "scrape_configs:\n";
        for (const auto& t : targets)
            config << "  - job_name: " << t.first
                   << "\n    static_configs:\n      - targets: [\"127.0.0.1:" << t.second << "\"]\n";
        config.close();
        port_ = static_cast<unsigned short>(FreePort());
        tools_.push_back(std::make_unique<Child>());
        if (!tools_.back()->Start({program, "--config.file=" + (dir_ / "prometheus.yml").string(),
                                   "--storage.tsdb.path=" + (dir_ / "data").string(),
                                   "--web.listen-address=127.0.0.1:" + std::to_string(port_),
                                   "--log.level=warn"},
                                  (dir_ / "prometheus.out").string()))
            return false;
        std::string body;
        return Eventually([&] {
                   return mdtools::FetchPage(port_, std::chrono::seconds(5), body, "/-/ready") ||
                       !tools_.back()->Running();
               }) &&
            tools_.back()->Running();
    }

    // The value of an instant query that gives one series; -1 for none.
    double Query(const std::string& promql)
    {
        std::string body;
        if (!mdtools::FetchPage(port_, std::chrono::seconds(10), body,
                                "/api/v1/query?query=" + UrlEncoded(promql)))
            return -1;
        static const std::regex value("\"value\":\\[[0-9.]+,\"([^\"]+)\"\\]");
        std::smatch m;
        const bool one = std::regex_search(body, m, value) &&
            body.find("\"value\"", m.position() + 1) == std::string::npos;
        return one ? std::stod(m[1]) : -1;
    }

    unsigned short port_ = 0;
};

TEST_F(PrometheusTest, ScrapesTheToolsAndSeesALinkLostAndBack)
{
    REQUIRE_PROMETHEUS_PROGRAM("prometheus");
    std::string why;
    if (NatsServerPath(why).empty()) {
        if (NatsRequired() || PrometheusRequired())
            FAIL() << why;
        GTEST_SKIP() << why;
    }
    NatsCluster bus(1, dir_ / "bus");
    ASSERT_TRUE(bus.Start());
    const std::string back = std::to_string(FreePort());
    const Tool a = StartFrontProgram("front-a");
    Tool b = StartFrontProgram("front-b", {"--port", back});
    ASSERT_TRUE(a.metrics && a.port && b.metrics && b.port);
    const Tool cli = StartCli("cli", {a.port, b.port}, {"--links", "2"});
    ASSERT_NE(cli.metrics, 0);
    StartFront(50);
    Child& relay = StartRelay("r", bus.Urls(), {"--metrics", "127.0.0.1:0"});
    const unsigned short relayMetrics = MetricsPort(relay, "mdrelay");
    ASSERT_NE(relayMetrics, 0) << relay.Output();
    ASSERT_TRUE(StartPrometheus(
        {{"front_a", a.metrics}, {"front_b", b.metrics}, {"mdcli", cli.metrics}, {"mdrelay", relayMetrics}}))
        << tools_.back()->Output();

    const std::string link1 = "{job=\"mdcli\",client=\"mdcli\",link=\"1\"}";
    ASSERT_TRUE(Eventually([&] {
        return Query("sum(up)") == 4 && Query("mdlink_logged_in" + link1) == 1 &&
            Query("mdlink_front_connections{job=\"front_b\"}") == 1;
    })) << Query("sum(up)");
    EXPECT_EQ(Query("mdlink_reconnections_total" + link1), 0);

    b.child->Kill();
    EXPECT_TRUE(Eventually([&] { return Query("mdlink_logged_in" + link1) == 0; }));
    EXPECT_EQ(Query("mdlink_logged_in{job=\"mdcli\",client=\"mdcli\",link=\"0\"}"), 1);
    EXPECT_TRUE(Eventually([&] { return Query("up{job=\"front_b\"}") == 0; }));
    b = StartFrontProgram("front-b-again", {"--port", back});
    ASSERT_EQ(std::to_string(b.port), back) << b.child->Output();
    EXPECT_TRUE(Eventually([&] {
        return Query("mdlink_reconnections_total" + link1) == 1 && Query("mdlink_logged_in" + link1) == 1;
    }));

    // The relay's feed stopped: Prometheus's last published count is the
    // stream's count of messages.
    fronts_[0]->Stop();
    BusClient client(bus.Urls());
    double published = -1;
    std::uint64_t stored = 0;
    EXPECT_TRUE(Eventually([&] {
        published = Query("mdlink_relay_published_total{job=\"mdrelay\"}");
        stored = client.State("MD").messages;
        return published > 0 && published == static_cast<double>(stored) &&
            Query("mdlink_relay_acknowledged_total{job=\"mdrelay\"}") == published;
    })) << published
        << " published, " << stored << " in the stream";
}

} // namespace
} // namespace relaytest
