// A real Prometheus server scraping the tools every second: two mdfront
// programs, mdcli --links 2 on them and mdrelay into a real nats-server.
// One front is killed and started again on its port; what Prometheus
// stored (read through its HTTP API) shows that link's login lost and its
// reconnection, and the relay's published count matching the stream.
#include "ToolProcesses.h"

#include "ToolMetrics.h"

#include <cctype>
#include <fstream>
#include <regex>

namespace promtest {
namespace {

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
    ASSERT_NE(a.metrics * a.port * b.metrics * b.port, 0);
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
} // namespace promtest
