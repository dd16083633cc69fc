// mdrelay --metrics against a real server: one scrape gives the relay's
// own figures and the library's page, the figures agree with the stream and
// with the relay's own counters line, and the bus's loss and return show.
#include "RelayFixture.h"
#include "Scrape.h"

namespace relaytest {
namespace {

TEST_F(RelayTest, MetricsPageFollowsTheRelayAndTheBus)
{
    REQUIRE_NATS_SERVER();
    NatsCluster bus(1, dir_ / "bus");
    ASSERT_TRUE(bus.Start());
    StartFront(100);
    Child& relay = StartRelay("r", bus.Urls(), {"--metrics", "127.0.0.1:0"});
    const unsigned short port = MetricsPort(relay, "mdrelay");
    ASSERT_NE(port, 0) << relay.Output();

    std::string page;
    ASSERT_TRUE(Eventually([&] {
        page = Scrape(port);
        return SeriesValue(page, "mdlink_relay_acknowledged_total") >= 20;
    })) << page;
    const std::string front = "{client=\"1\",front=\"" + FrontAddress() + "\"}";
    EXPECT_EQ(SeriesValue(page, "mdlink_tool_library_page_up"), 1) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_logged_in" + front), 1) << page;
    EXPECT_GT(SeriesValue(page, "mdlink_records_total" + front), 0) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_relay_bus_connected"), 1) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_relay_bus_reconnections_total"), 0) << page;
    EXPECT_EQ(PromtoolVerdict(page, "relay.txt"), "") << page;
    // Another relay asked for the same port ends at once.
    Child& second = StartRelay("r2", bus.Urls(), {"--metrics", "127.0.0.1:" + std::to_string(port)});
    EXPECT_EQ(second.Wait(Patience), 2) << second.Output();
    EXPECT_NE(second.Output().find("mdrelay: cannot serve metrics on 127.0.0.1:"), std::string::npos);

    // The feed stopped, everything acknowledged: the page, the stream and
    // the counters line tell the same numbers.
    fronts_[0]->Stop();
    BusClient client(bus.Urls());
    ASSERT_TRUE(Eventually([&] {
        page = Scrape(port);
        const double published = SeriesValue(page, "mdlink_relay_published_total");
        return SeriesValue(page, "mdlink_relay_queue_depth") == 0 &&
            SeriesValue(page, "mdlink_relay_acknowledged_total") == published &&
            SeriesValue(page, "mdlink_relay_ack_latency_seconds_count") == published &&
            SeriesValue(page, "mdlink_relay_received_total") == published &&
            static_cast<double>(client.State("MD").messages) == published;
    })) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_relay_dropped_total"), 0) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_relay_refused_total"), 0) << page;
    EXPECT_EQ(SeriesValue(page, "mdlink_relay_resent_total"), 0) << page;
    EXPECT_GT(SeriesValue(page, "mdlink_relay_ack_latency_seconds_sum"), 0) << page;
    const double published = SeriesValue(page, "mdlink_relay_published_total");
    EXPECT_TRUE(Eventually([&] {
        return static_cast<double>(LastStatus(relay.Output())["acknowledged"]) == published;
    })) << relay.Output();

    bus.Nodes()[0]->Kill();
    EXPECT_TRUE(Eventually([&] { return SeriesValue(Scrape(port), "mdlink_relay_bus_connected") == 0; }));
    ASSERT_TRUE(bus.Nodes()[0]->Start());
    EXPECT_TRUE(Eventually([&] {
        page = Scrape(port);
        return SeriesValue(page, "mdlink_relay_bus_connected") == 1 &&
            SeriesValue(page, "mdlink_relay_bus_reconnections_total") == 1;
    })) << page;
    EXPECT_EQ(StopRelay(relay), 0) << relay.Output();
}

} // namespace
} // namespace relaytest
