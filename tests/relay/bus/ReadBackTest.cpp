// Reading the stream back with mdrelay --read: from a time, the last N of an
// instrument, and a durable reader that resumes where it stopped. What it
// reads is compared with what the tests' own client finds in the stream.
#include "RelayFixture.h"

#include "DepthCsv.h"

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
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%09lldZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<long long>(ns % 1'000'000'000));
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
    ASSERT_EQ(Read({"--nats", bus_->Urls(), "--since", UtcText(from), "--to-end", "--csv",
                    "since.csv"},
                   &output),
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
    ASSERT_EQ(Read({"--nats", bus_->Urls(), "--instruments", "IF2612", "--last", "25",
                    "--to-end", "--csv", "last.csv"},
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
    const std::vector<std::string> durable = {"--nats", bus_->Urls(), "--durable", "desk",
                                              "--all", "--to-end"};
    auto csv = [&](const char* file) {
        std::vector<std::string> flags = durable;
        flags.insert(flags.end(), {"--csv", file});
        return flags;
    };
    ASSERT_EQ(Read(csv("one.csv"), &output), 0) << output;
    EXPECT_EQ(CsvVolumes(dir_ / "one.csv").size(), first);

    const std::uint64_t second = Publish("r2", 100); // a new connection numbers from 1 again
    ASSERT_EQ(Read(csv("two.csv"), &output), 0) << output;
    EXPECT_EQ(CsvVolumes(dir_ / "two.csv").size(), second);
    EXPECT_EQ(Consecutive(CsvVolumes(dir_ / "two.csv")), "");
    EXPECT_EQ(Read(csv("three.csv"), &output), 1) << "nothing new to read\n" << output;
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
    ASSERT_EQ(Read({"--nats", bus_->Urls(), "--forquote", "IF2612", "--all", "--to-end"}, &output),
              0)
        << output;
    const std::size_t all = [&] {
        std::size_t n = 0;
        for (const StoredRecord& r : client.ReadAll("MD"))
            n += r.subject == "md.forquote.CFFEX.IF2612";
        return n;
    }();
    EXPECT_NE(output.find("0 depth records for 0 instruments, " + std::to_string(all) +
                          " for-quote notices"),
              std::string::npos)
        << output;
}

} // namespace
} // namespace relaytest
