// mdrelay's command line against a real server: exit codes, the stream
// checked and never changed unasked, and NATS credentials that never pass
// through the command line.
#include "RelayFixture.h"

#include <csignal>
#include <fstream>
#include <sstream>

namespace relaytest {
namespace {

class CommandTest : public RelayTest {
protected:
    int Run(const std::string& name, const std::string& urls, std::vector<std::string> flags,
            const std::vector<std::string>& env = {})
    {
        flags.insert(flags.end(), {"--duration", "0.3"});
        Child& relay = StartRelay(name, urls, flags, env);
        const int status = relay.Wait(Patience);
        output_ = relay.Output();
        return status;
    }

    std::string output_;
};

TEST_F(CommandTest, ExitCodes)
{
    REQUIRE_NATS_SERVER();
    StartFront(10);
    NatsCluster bus(1, dir_ / "bus");
    ASSERT_TRUE(bus.Start());
    std::ofstream("ids.txt") << "au2612 # gold\nIF2612\n";
    struct Case {
        std::vector<std::string> flags;
        std::string urls;
        int status;
    };
    const std::string down = "nats://127.0.0.1:" + std::to_string(FreePort());
    const std::vector<Case> cases = {
        {{}, bus.Urls(), 0},
        {{"--instruments-file", "ids.txt"}, bus.Urls(), 0},
        {{"--storage", "disk"}, bus.Urls(), 2},
        {{"--nosuch"}, bus.Urls(), 2},
        {{"--instruments-file", "missing.txt"}, bus.Urls(), 2},
        {{"--prefix", "md.*"}, bus.Urls(), 2},
        {{"--duplicate-window", "2h", "--max-age", "1h"}, bus.Urls(), 2},
        // Files that cannot be read and a name the protocol cannot carry are
        // mistakes of the command line, not an unreachable server.
        {{"--nats-user", "u", "--nats-password-file", "missing.txt"}, bus.Urls(), 2},
        {{"--nats-token-file", "missing.txt"}, bus.Urls(), 2},
        {{"--creds", "missing.creds"}, bus.Urls(), 2},
        {{"--tls-ca", "missing.pem"}, bus.Urls(), 2},
        {{"--tls-cert", "missing.pem", "--tls-key", "missing.key"}, bus.Urls(), 2},
        {{"--name", "r\r\nPUB x 1"}, bus.Urls(), 2},
        {{}, down, 3},
        {{"--stream", "OTHER", "--prefix", "md"}, bus.Urls(), 4}, // md.> is MD's already
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run("r", c.urls, c.flags), c.status) << output_;
    }
}

TEST_F(CommandTest, ExistingStreamReportedNotChangedUnasked)
{
    REQUIRE_NATS_SERVER();
    StartFront(10);
    NatsCluster bus(1, dir_ / "bus");
    ASSERT_TRUE(bus.Start());
    BusClient client(bus.Urls());
    ASSERT_EQ(Run("r", bus.Urls(), {}), 0) << output_;
    const std::int64_t day = 24LL * 3600 * 1'000'000'000;
    EXPECT_EQ(client.State("MD").maxAgeNs, day);

    EXPECT_EQ(Run("r", bus.Urls(), {"--max-age", "1h"}), 4);
    EXPECT_NE(output_.find("max-age: the stream has 1d, the options say 1h"), std::string::npos) << output_;
    EXPECT_EQ(client.State("MD").maxAgeNs, day);
    EXPECT_EQ(Run("r", bus.Urls(), {"--max-age", "1h", "--stream-mismatch", "use"}), 0) << output_;
    EXPECT_NE(output_.find("max-age: the stream has 1d"), std::string::npos) << output_;
    EXPECT_EQ(client.State("MD").maxAgeNs, day);
    EXPECT_EQ(Run("r", bus.Urls(), {"--max-age", "1h", "--stream-mismatch", "update"}), 0) << output_;
    EXPECT_EQ(client.State("MD").maxAgeNs, day / 24);
    EXPECT_EQ(Run("r", bus.Urls(), {"--max-age", "1h"}), 0) << output_;
}

TEST_F(CommandTest, CredentialsFromAFileOrTheEnvironment)
{
    REQUIRE_NATS_SERVER();
    StartFront(10);
    NatsCluster bus(1, dir_ / "bus",
                    "authorization {\n  users: [ {user: relay, password: \"pass word\"} ]\n}\n");
    bus.SetLogin("relay", "pass word");
    ASSERT_TRUE(bus.Start());
    std::ofstream("right.txt") << "pass word\n";
    std::ofstream("wrong.txt") << "guess\n";
    struct Case {
        std::vector<std::string> flags;
        std::vector<std::string> env;
        int status;
    };
    const std::vector<Case> cases = {
        {{"--nats-user", "relay", "--nats-password-file", "right.txt"}, {}, 0},
        {{"--nats-user", "relay"}, {"MDRELAY_NATS_PASSWORD=pass word"}, 0},
        {{"--nats-user", "relay", "--nats-password-file", "wrong.txt"}, {}, 3},
        {{}, {}, 3},
        {{"--nats-password-file", "right.txt"}, {}, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Run("r", bus.Urls(), c.flags, c.env), c.status) << output_;
}

// A relay that has published nothing (its front is gone) stops cleanly,
// whether asked at once or after losing its bus and getting it back: its
// JetStream contexts have no publishes pending to take back.
TEST_F(CommandTest, StopsCleanlyHavingPublishedNothing)
{
    REQUIRE_NATS_SERVER();
    StartFront(10);
    fronts_[0]->Stop(); // the relay finds nobody there
    NatsCluster bus(1, dir_ / "bus");
    ASSERT_TRUE(bus.Start());
    for (const bool busRestarted : {false, true}) {
        SCOPED_TRACE(busRestarted ? "bus restarted" : "bus up");
        Child& relay = StartRelay(busRestarted ? "r2" : "r1", bus.Urls());
        // Its first counters: it runs, and stops on a signal.
        ASSERT_TRUE(Eventually([&] { return LastStatus(relay.Output()).count("received") > 0; }))
            << relay.Output();
        if (busRestarted) {
            bus.Nodes()[0]->Kill();
            ASSERT_TRUE(bus.Nodes()[0]->Start());
            ASSERT_TRUE(Eventually([&] {
                return !relay.Running() || LastStatus(relay.Output())["reconnections"] >= 1;
            })) << relay.Output();
        }
        relay.Signal(SIGINT);
        EXPECT_EQ(relay.Wait(Patience), 0) << relay.Output();
        EXPECT_EQ(LastStatus(relay.Output())["published"], 0u) << relay.Output();
    }
}

// Records the bus will not take (the user may not publish to the subject,
// or the stream does not take it) are refused and counted, their subject
// named once, while the other instrument's records go on being stored.
TEST_F(CommandTest, RefusedSubjectsCountedNamedAndNoStall)
{
    REQUIRE_NATS_SERVER();
    StartFront(100);
    std::ofstream("relay.txt") << "relay pw\n";
    struct Case {
        const char* what;
        std::string server;              // configuration added
        std::vector<std::string> before; // a relay run first with these flags
        std::vector<std::string> flags;
        std::size_t lines; // naming the refused subject
    };
    const std::string users =
        "authorization {\n  users: [\n"
        "    {user: admin, password: pw}\n"
        "    {user: relay, password: \"relay pw\", permissions: {\n"
        "      publish: {allow: [\"md.SHFE.>\", \"$JS.API.>\"]}, subscribe: {allow: [\"_INBOX.>\"]}}}\n"
        "  ]\n}\n";
    const std::vector<Case> cases = {
        // the server's refusal, and the relay's
        {"not permitted", users, {}, {"--nats-user", "relay", "--nats-password-file", "relay.txt"}, 2},
        {"outside the stream",
         "",
         {"--prefix", "md.SHFE", "--duration", "0.1"},
         {"--stream-mismatch", "use"},
         1},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NatsCluster bus(1, dir_ / ("bus" + std::to_string(++run)), c.server);
        if (!c.server.empty())
            bus.SetLogin("admin", "pw");
        ASSERT_TRUE(bus.Start());
        const std::string url = bus.Urls();
        BusClient client(c.server.empty() ? url : "nats://admin:pw@" + url.substr(7));
        if (!c.before.empty()) {
            ASSERT_EQ(Run("setup" + std::to_string(run), url, c.before), 0) << output_;
        }
        const std::uint64_t stored = client.State("MD").messages;
        std::vector<std::string> flags = c.flags;
        flags.insert(flags.end(), {"--ack-wait", "1s"});
        Child& relay = StartRelay("r" + std::to_string(run), url, flags);
        ASSERT_TRUE(Eventually([&] {
            return !relay.Running() ||
                (LastStatus(relay.Output())["refused"] >= 20 && client.State("MD").messages >= stored + 200);
        })) << relay.Output();
        ASSERT_EQ(StopRelay(relay), 0) << relay.Output();
        auto status = LastStatus(relay.Output());
        EXPECT_GT(status["refused"], 0u);
        EXPECT_EQ(client.State("MD").messages - stored,
                  status["received"] - status["dropped"] - status["refused"])
            << relay.Output();
        std::size_t named = 0;
        std::istringstream lines(relay.Output());
        for (std::string line; std::getline(lines, line);)
            named += line.find("md.CFFEX.IF2612") != std::string::npos;
        EXPECT_EQ(named, c.lines) << relay.Output();
    }
}

// The bus's one server killed under a storing relay:
// - a stream kept in memory is gone when the server restarts: the relay
//   makes it again once it has reconnected, and goes on;
// - SIGTERM with the bus gone: what is left after --flush is counted, and
//   the exit code says so.
TEST_F(CommandTest, TheBusServerKilledUnderTheRelay)
{
    REQUIRE_NATS_SERVER();
    struct Case {
        std::vector<std::string> args;
        bool restart;
        const char* said;
        int exit;
    };
    const Case cases[] = {
        {{"--storage", "memory"}, true, "stream MD was gone; created it again", 0},
        {{"--flush", "500ms"}, false, "records left unacknowledged", 1},
    };
    StartFront(100);
    int k = 0;
    for (const Case& c : cases) {
        NatsCluster bus(1, dir_ / ("bus" + std::to_string(k)));
        ASSERT_TRUE(bus.Start());
        BusClient client(bus.Urls());
        Child& relay = StartRelay("r" + std::to_string(k++), bus.Urls(), c.args);
        ASSERT_TRUE(Eventually([&] { return client.State("MD").messages >= 50; })) << relay.Output();
        bus.Nodes()[0]->Kill();
        if (c.restart) {
            ASSERT_TRUE(bus.Nodes()[0]->Start());
            ASSERT_TRUE(Eventually([&] { return !relay.Running() || client.State("MD").messages >= 50; }))
                << relay.Output();
        } else {
            ASSERT_TRUE(Eventually([&] { return LastStatus(relay.Output())["queued"] > 0; }));
        }
        EXPECT_EQ(StopRelay(relay), c.exit) << relay.Output();
        EXPECT_NE(relay.Output().find(c.said), std::string::npos) << relay.Output();
    }
}

} // namespace
} // namespace relaytest
