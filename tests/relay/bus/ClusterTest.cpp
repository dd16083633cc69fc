// The relay when a server or another relay fails: a three-node cluster
// whose stream leader dies mid-stream and comes back later with its store,
// the bus gone for ten seconds, and two relays on one feed, either enough.
#include "RelayFixture.h"

#include <map>

namespace relaytest {
namespace {

// The relay knows one server, n1, which leads the stream when it is killed:
// the relay reconnects to a server the cluster told it of, and its records
// reach the leader elected after n1.
TEST_F(RelayTest, LeaderKilledMidStreamEveryRecordStoredOnceInOrder)
{
    REQUIRE_NATS_SERVER();
    NatsCluster cluster(3, dir_ / "cluster");
    ASSERT_TRUE(cluster.Start());
    StartFront(100);
    const std::string leader = "n1";
    Child& relay = StartRelay("r1", cluster.Node(leader).Url(), {"--replicas", "3"});
    BusClient bus(cluster.Urls());
    ASSERT_TRUE(Eventually([&] { return bus.State("MD").messages >= 100; })) << relay.Output();
    ASSERT_TRUE(Eventually([&] {
        const StreamState s = bus.State("MD");
        if (s.leader == leader)
            return true;
        bus.StepDown("MD");
        return false;
    }));
    ASSERT_TRUE(Eventually([&] { return bus.State("MD").messages >= 300; }));
    cluster.Node(leader).Kill();
    std::uint64_t stored = 0;
    ASSERT_TRUE(Eventually([&] {
        const StreamState s = bus.State("MD");
        stored = s.messages;
        return !s.leader.empty() && s.leader != leader;
    }));
    ASSERT_TRUE(Eventually([&] { return bus.State("MD").messages >= stored + 300; }));
    ASSERT_TRUE(cluster.Node(leader).Start());
    stored = bus.State("MD").messages;
    ASSERT_TRUE(Eventually([&] { return bus.State("MD").messages >= stored + 200; }));

    ASSERT_EQ(StopRelay(relay), 0) << relay.Output();
    auto status = LastStatus(relay.Output());
    EXPECT_EQ(status["dropped"], 0u);
    EXPECT_GT(status["reconnections"], 0u);
    EXPECT_GT(status["retried"], 0u) << "no publish failed while the stream had no leader";
    EXPECT_EQ(bus.State("MD").messages, status["received"]);
    std::string output;
    ASSERT_EQ(Read({"--nats", cluster.Urls(), "--all", "--to-end", "--csv", "all.csv"}, &output), 0)
        << output;
    const std::vector<int> volumes = CsvVolumes(dir_ / "all.csv");
    EXPECT_EQ(volumes.size(), status["received"]);
    EXPECT_EQ(Consecutive(volumes), "");
}

// Leaders that step down, one after another: what was in flight to the old
// leader gets no reply, and the relay sends it again as soon as the new one
// is elected instead of waiting out the ack wait (here longer than any wait
// of the test's).
TEST_F(RelayTest, LeaderStepsDownPublishingGoesOnWithoutTheAckWait)
{
    REQUIRE_NATS_SERVER();
    NatsCluster cluster(3, dir_ / "cluster");
    ASSERT_TRUE(cluster.Start());
    StartFront(1000);
    Child& relay = StartRelay("r1", cluster.Urls(), {"--replicas", "3", "--ack-wait", "10m"});
    BusClient bus(cluster.Urls());
    ASSERT_TRUE(Eventually([&] { return bus.State("MD").messages >= 1000; })) << relay.Output();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE("step-down " + std::to_string(i + 1));
        const std::string leader = bus.State("MD").leader;
        ASSERT_TRUE(bus.StepDown("MD"));
        std::uint64_t stored = 0;
        ASSERT_TRUE(Eventually([&] {
            const StreamState s = bus.State("MD");
            stored = s.messages;
            return !s.leader.empty() && s.leader != leader;
        }));
        ASSERT_TRUE(Eventually([&] { return !relay.Running() || bus.State("MD").messages >= stored + 1000; }))
            << relay.Output();
    }
    ASSERT_EQ(StopRelay(relay), 0) << relay.Output();
    auto status = LastStatus(relay.Output());
    EXPECT_EQ(status["dropped"], 0u);
    EXPECT_EQ(bus.State("MD").messages, status["received"]);
}

// The server down for ten seconds of the feed, then back with its store:
// the relay holds what its queue bounds, drops the oldest beyond it, and
// counts exactly what the stream misses.
TEST_F(RelayTest, BusDownQueueBoundedDroppedCountedExactly)
{
    REQUIRE_NATS_SERVER();
    constexpr int Queue = 2000;
    constexpr int RatePerInstrument = 1000; // two instruments: 2000 records a second
    NatsCluster cluster(1, dir_ / "bus");
    ASSERT_TRUE(cluster.Start());
    StartFront(RatePerInstrument);
    Child& relay = StartRelay("r1", cluster.Urls(), {"--queue", std::to_string(Queue)});
    BusClient bus(cluster.Urls());
    ASSERT_TRUE(Eventually([&] { return bus.State("MD").messages >= 2000; })) << relay.Output();

    const long residentBefore = relay.ResidentKiB();
    std::uint64_t receivedAtKill = 0;
    for (auto& node : cluster.Nodes())
        node->Kill();
    ASSERT_TRUE(Eventually([&] {
        receivedAtKill = LastStatus(relay.Output())["received"];
        return receivedAtKill > 0;
    }));
    // Ten seconds of the feed arrive while the bus is down.
    ASSERT_TRUE(Eventually(
        [&] { return LastStatus(relay.Output())["received"] >= receivedAtKill + 20 * Queue / 2; }));
    const long residentDown = relay.ResidentKiB();
    const std::uint64_t acknowledgedDown = LastStatus(relay.Output())["acknowledged"];
    for (auto& node : cluster.Nodes())
        ASSERT_TRUE(node->Start());
    // What the queue held goes out first, then the live feed.
    ASSERT_TRUE(Eventually([&] {
        return LastStatus(relay.Output())["acknowledged"] > acknowledgedDown + 2 * Queue;
    })) << relay.Output();

    ASSERT_EQ(StopRelay(relay), 0) << relay.Output();
    auto status = LastStatus(relay.Output());
    EXPECT_GT(status["dropped"], 0u);
    std::string output;
    ASSERT_EQ(Read({"--nats", cluster.Urls(), "--all", "--to-end", "--csv", "all.csv"}, &output), 0)
        << output;
    const std::vector<int> volumes = CsvVolumes(dir_ / "all.csv");
    ASSERT_FALSE(volumes.empty());
    for (std::size_t i = 1; i < volumes.size(); ++i)
        ASSERT_LT(volumes[i - 1], volumes[i]) << "record " << i << " out of order or twice";
    EXPECT_EQ(static_cast<std::uint64_t>(volumes.back()), status["received"]);
    EXPECT_EQ(status["received"] - volumes.size(), status["dropped"]);
    if (!Sanitized()) {
        // What ten seconds of records would take unbounded: over 8 MB.
        const long queueKiB = Queue * 432 / 1024;
        EXPECT_LT(residentDown - residentBefore, queueKiB + 3 * 1024)
            << "resident " << residentBefore << " KiB before, " << residentDown << " KiB down";
    }
}

// Two fronts serve the same feed and a relay on each publishes it: the
// stream stores each record once (the copies count as duplicates, the ids
// being the records' content), and the second relay carries on alone when
// the first stops.
TEST_F(RelayTest, TwoRelaysOnOneFeedEachRecordStoredOnce)
{
    REQUIRE_NATS_SERVER();
    NatsCluster bus(1, dir_ / "bus");
    ASSERT_TRUE(bus.Start());
    StartFront(200, 3000, true);
    StartFront(200, 3000, true);
    BusClient client(bus.Urls());
    Child& first = StartRelay("r1", bus.Urls(), {}, {}, 0);
    ASSERT_TRUE(Eventually([&] { return client.State("MD").messages >= 200; })) << first.Output();
    // The second relay holds both fronts at once: what it publishes is
    // each record once already, before the stream drops the first relay's.
    Child& second = StartRelay("r2", bus.Urls(), {"--front", FrontAddress(0), "--links", "2"}, {}, 1);
    ASSERT_TRUE(Eventually([&] { return LastStatus(second.Output())["duplicates"] >= 200; }))
        << second.Output();
    ASSERT_EQ(StopRelay(first), 0) << first.Output();
    const std::uint64_t alone = client.State("MD").messages;
    ASSERT_TRUE(Eventually([&] { return client.State("MD").messages >= alone + 200; }));
    ASSERT_EQ(StopRelay(second), 0) << second.Output();
    EXPECT_NE(second.Output().find("link 1 ["), std::string::npos) << second.Output();

    std::uint64_t unique = 0;
    for (Child* relay : {&first, &second}) {
        auto status = LastStatus(relay->Output());
        EXPECT_EQ(status["dropped"], 0u);
        EXPECT_EQ(status["acknowledged"], status["received"]);
        unique += status["acknowledged"] - status["duplicates"];
    }
    const std::vector<StoredRecord> stored = client.ReadAll("MD");
    EXPECT_EQ(stored.size(), unique) << "the relays' duplicates do not add up";
    std::map<std::string, std::vector<StoredRecord>> bySubject;
    for (const StoredRecord& r : stored)
        bySubject[r.subject].push_back(r);
    ASSERT_EQ(bySubject.size(), 2u);
    for (const auto& [subject, records] : bySubject) {
        const std::vector<int> slots = Volumes(records);
        ASSERT_EQ(slots.size(), records.size()) << subject;
        for (std::size_t i = 1; i < slots.size(); ++i)
            ASSERT_LT(slots[i - 1], slots[i]) << subject << ": record " << i << " twice or late";
    }
}

} // namespace
} // namespace relaytest
