// Reading the stream back with mdrelay --read: from a time, the last N of an
// instrument, and a durable reader that resumes where it stopped. What it
// reads is compared with what the tests' own client finds in the stream.
#include "RelayFixture.h"

#include "DepthCsv.h"
#ifdef MDLINK_CAPTURE
#include "CaptureRecords.h"
#endif

#include <algorithm>
#include <ctime>

namespace relaytest {
namespace {

// "YYYY-MM-DDTHH:MM:SS.nnnnnnnnnZ"
std::string UtcText(std::int64_t ns)
{
    const std::time_t seconds = static_cast<std::time_t>(ns / 1'000'000'000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%09lldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long long>(ns % 1'000'000'000));
    return buf;
}

class ReadBackTest : public RelayTest {
protected:
    void SetUp() override
    {
        RelayTest::SetUp();
        bus_ = std::make_unique<NatsCluster>(1, dir_ / "bus");
    }

    // Runs a relay until the stream holds `more` records beyond what it had.
    std::uint64_t Publish(const std::string& name, std::uint64_t more)
    {
        BusClient client(bus_->Urls());
        const std::uint64_t before = client.State("MD").messages;
        Child& relay = StartRelay(name, bus_->Urls());
        EXPECT_TRUE(Eventually([&] { return client.State("MD").messages >= before + more; }))
            << relay.Output();
        EXPECT_EQ(StopRelay(relay), 0) << relay.Output();
        return LastStatus(relay.Output())["received"];
    }

    std::unique_ptr<NatsCluster> bus_;
};

TEST_F(ReadBackTest, FromATimeAndTheLastOfAnInstrument)
{
    REQUIRE_NATS_SERVER();
    ASSERT_TRUE(bus_->Start());
    StartFront(200);
    Publish("r1", 400);
    BusClient client(bus_->Urls());
    const std::vector<StoredRecord> stored = client.ReadAll("MD");
    ASSERT_GE(stored.size(), 400u);

    const std::int64_t from = stored[stored.size() / 2].storedNs;
    std::vector<StoredRecord> since;
    for (const StoredRecord& r : stored)
        if (r.storedNs >= from)
            since.push_back(r);
    std::string output;
    ASSERT_EQ(
        Read({"--nats", bus_->Urls(), "--since", UtcText(from), "--to-end", "--csv", "since.csv"}, &output),
        0)
        << output;
    EXPECT_EQ(CsvVolumes(dir_ / "since.csv"), Volumes(since));

    std::vector<mdtools::CsvDepthRow> rows;
    std::string error;
    ASSERT_TRUE(mdtools::ReadDepthCsv((dir_ / "since.csv").string(), rows, error)) << error;
    ASSERT_FALSE(rows.empty());
    // "1 depth <receive ns> <sequence> r1": the receive time is the relay's.
    const std::string header = since[0].headers["Mdlink-Record"];
    EXPECT_EQ(header.rfind("1 depth ", 0), 0u) << header;
    EXPECT_EQ(header.substr(header.size() - 3), " r1") << header;
    EXPECT_EQ(rows[0].recv_time_us, std::stoll(header.substr(8)) / 1000) << header;

    std::vector<StoredRecord> last;
    for (const StoredRecord& r : stored)
        if (r.subject == "md.CFFEX.IF2612")
            last.push_back(r);
    last.erase(last.begin(), last.end() - 25);
    ASSERT_EQ(Read({"--nats", bus_->Urls(), "--instruments", "IF2612", "--last", "25", "--to-end", "--csv",
                    "last.csv"},
                   &output),
              0)
        << output;
    EXPECT_EQ(CsvVolumes(dir_ / "last.csv"), Volumes(last));
}

TEST_F(ReadBackTest, DurableReaderResumesWhereItStopped)
{
    REQUIRE_NATS_SERVER();
    ASSERT_TRUE(bus_->Start());
    StartFront(200);
    const std::uint64_t first = Publish("r1", 100);
    std::string output;
    const std::vector<std::string> durable = {"--nats", bus_->Urls(), "--durable",
                                              "desk",   "--all",      "--to-end"};
    auto csv = [&](const char* file) {
        std::vector<std::string> flags = durable;
        flags.insert(flags.end(), {"--csv", file});
        return flags;
    };
    ASSERT_EQ(Read(csv("one.csv"), &output), 0) << output;
    EXPECT_EQ(CsvVolumes(dir_ / "one.csv").size(), first);

    // Resumed with the same start flag, with none, and with one that asks
    // for another start: each reads what was stored since; the last is
    // told that its flag does not move the durable.
    struct Resume {
        std::vector<std::string> start;
        std::string warning;
    };
    const std::vector<Resume> resumes = {
        {{"--all"}, ""},
        {{}, ""},
        {{"--last", "5"}, "--last"},
    };
    int run = 0;
    for (const Resume& r : resumes) {
        SCOPED_TRACE(testing::PrintToString(r.start));
        const std::string name = "r" + std::to_string(run + 2);
        const std::uint64_t more = Publish(name, 100); // a new connection numbers from 1 again
        const std::string file = "resumed" + std::to_string(++run) + ".csv";
        std::vector<std::string> flags = {"--nats",   bus_->Urls(), "--durable", "desk",
                                          "--to-end", "--csv",      file};
        flags.insert(flags.end(), r.start.begin(), r.start.end());
        ASSERT_EQ(Read(flags, &output), 0) << output;
        EXPECT_EQ(CsvVolumes(dir_ / file).size(), more);
        EXPECT_EQ(Consecutive(CsvVolumes(dir_ / file)), "");
        const std::size_t warned = output.find("durable desk resumes where its last reader stopped");
        EXPECT_EQ(warned != std::string::npos, !r.warning.empty()) << output;
        if (!r.warning.empty() && warned != std::string::npos) {
            EXPECT_NE(output.find(r.warning + " ignored", warned), std::string::npos) << output;
        }
    }
    EXPECT_EQ(Read(csv("nothing.csv"), &output), 1) << "nothing new to read\n" << output;
}

// Readers of one durable stopped in the middle of a backlog, one after the
// other: what one had received and not shown goes to the next, at once,
// and together they show every record once.
TEST_F(ReadBackTest, DurableReadersInTurnShowEveryRecordOnce)
{
    REQUIRE_NATS_SERVER();
    ASSERT_TRUE(bus_->Start());
    StartFront(2000);
    Publish("r1", 6000);
    BusClient client(bus_->Urls());
    std::vector<int> want = Volumes(client.ReadAll("MD"));
    std::vector<int> got;
    std::string output;
    int part = 0;
    // Stopped at once: records are still on their way to the first two.
    for (const char* stop : {"0.001", "0.001", ""}) {
        const std::string file = "part" + std::to_string(++part) + ".csv";
        std::vector<std::string> flags = {"--nats", bus_->Urls(), "--durable", "turns",
                                          "--all",  "--csv",      file};
        if (*stop)
            flags.insert(flags.end(), {"--duration", stop});
        else
            flags.push_back("--to-end");
        const int status = Read(flags, &output);
        EXPECT_TRUE(status == 0 || (status == 1 && *stop)) << output;
        for (const int v : CsvVolumes(dir_ / file))
            got.push_back(v);
    }
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}

TEST_F(ReadBackTest, ForQuoteNoticesOnASubjectOfTheirOwn)
{
    REQUIRE_NATS_SERVER();
    ASSERT_TRUE(bus_->Start());
    StartFront(20, 20);
    BusClient client(bus_->Urls());
    Child& relay = StartRelay("r1", bus_->Urls(), {"--forquote", "IF2612"});
    std::vector<StoredRecord> notices;
    ASSERT_TRUE(Eventually([&] {
        notices.clear();
        for (StoredRecord& r : client.ReadAll("MD"))
            if (r.subject == "md.forquote.CFFEX.IF2612")
                notices.push_back(r);
        return notices.size() >= 3;
    })) << relay.Output();
    ASSERT_EQ(StopRelay(relay), 0) << relay.Output();
    EXPECT_EQ(notices[0].payload.size(), sizeof(CThostFtdcForQuoteRspField));
    EXPECT_EQ(notices[0].headers["Mdlink-Record"].rfind("1 forquote ", 0), 0u);
    std::string output;
    ASSERT_EQ(Read({"--nats", bus_->Urls(), "--forquote", "IF2612", "--all", "--to-end"}, &output), 0)
        << output;
    const std::size_t all = [&] {
        std::size_t n = 0;
        for (const StoredRecord& r : client.ReadAll("MD"))
            n += r.subject == "md.forquote.CFFEX.IF2612";
        return n;
    }();
    EXPECT_NE(output.find("0 depth records for 0 instruments, " + std::to_string(all) + " for-quote notices"),
              std::string::npos)
        << output;
}

#ifdef MDLINK_CAPTURE
// The relay's capture and the archive mdrelay --read makes from the stream
// hold the same records with the same receive time: the one in the header.
TEST_F(ReadBackTest, ArchiveFromTheStreamMatchesTheRelaysCapture)
{
    REQUIRE_NATS_SERVER();
    ASSERT_TRUE(bus_->Start());
    StartFront(200);
    BusClient client(bus_->Urls());
    Child& relay = StartRelay("r1", bus_->Urls(), {"--capture", "relayed"});
    ASSERT_TRUE(Eventually([&] { return client.State("MD").messages >= 200; })) << relay.Output();
    ASSERT_EQ(StopRelay(relay), 0) << relay.Output();
    const std::uint64_t received = LastStatus(relay.Output())["received"];
    EXPECT_NE(relay.Output().find("captured " + std::to_string(received) + " records into relayed"),
              std::string::npos)
        << relay.Output();
    std::string output;
    ASSERT_EQ(Read({"--nats", bus_->Urls(), "--all", "--to-end", "--capture", "archived"}, &output), 0)
        << output;
    EXPECT_NE(output.find("captured " + std::to_string(received) + " records into archived"),
              std::string::npos)
        << output;
    const auto relayed = capturetest::ReadCapture(dir_ / "relayed");
    const auto archived = capturetest::ReadCapture(dir_ / "archived");
    ASSERT_EQ(relayed.size(), received);
    ASSERT_EQ(archived.size(), received);
    // Per instrument in order; the stream interleaves instruments as it stored them.
    std::map<std::string, std::vector<std::pair<std::int64_t, std::string>>> a, b;
    for (const auto& r : relayed)
        a[r.id].emplace_back(r.ns, r.bytes);
    for (const auto& r : archived)
        b[r.id].emplace_back(r.ns, r.bytes);
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.size(), 2u);
}
#endif

} // namespace
} // namespace relaytest
