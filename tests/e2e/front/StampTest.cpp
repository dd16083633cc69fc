// Sequence stamps in depth records, and what the stats say about which of
// them were written whole before a fault; per-connection faults; stopping
// and restarting a front.
#include "FrontFixture.h"

#include <cstring>
#include <future>

namespace fronttest {
namespace {

using namespace mdlink;
using mdfront::FrontFaults;
using mdfront::SentFrame;

// The stamps of the depth frames a connection queued, in order.
std::vector<int> SentStamps(const mdfront::FrontServer& front, std::size_t conn)
{
    std::vector<int> out;
    for (const SentFrame& f : front.Connection(conn).sent)
        if (f.has_depth)
            out.push_back(f.depth.Volume);
    return out;
}

std::vector<int> OneTo(std::uint64_t n)
{
    std::vector<int> out;
    for (std::uint64_t i = 1; i <= n; ++i)
        out.push_back(static_cast<int>(i));
    return out;
}

class StampTest : public FrontFixture {
protected:
    static mdfront::FrontConfig StampConfig()
    {
        auto cfg = BaseConfig();
        cfg.stamp_sequence = true;
        return cfg;
    }
};

TEST_F(StampTest, EachConnectionNumbersItsDepthRecordsFromOne)
{
    StartFront(StampConfig());
    auto a = LoggedInClient();
    auto b = LoggedInClient();
    a->SendList(MsgSubscribeMarketData, 2, "au2612|ag2612");
    b->SendList(MsgSubscribeMarketData, 2, "IF2612");
    for (auto* client : {a.get(), b.get()}) {
        for (int i = 1; i <= 5; ++i) {
            auto f = client->ReadFrameOfType(MsgDepthMarketData);
            ASSERT_TRUE(f);
            CThostFtdcDepthMarketDataField d;
            ASSERT_EQ(f->body.size(), sizeof d);
            std::memcpy(&d, f->body.data(), sizeof d);
            EXPECT_EQ(d.Volume, i);
        }
    }
    for (std::size_t conn : {0u, 1u}) {
        const auto stamps = SentStamps(*front_, conn);
        EXPECT_EQ(stamps, OneTo(stamps.size())) << "connection " << conn;
        // The client can read a frame before the front learns its write is done.
        ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(conn).stamp_written >= 5; }));
        const auto stats = front_->Stats(conn);
        EXPECT_EQ(stats.stamp_before_fault, stats.stamp_written);
        EXPECT_FALSE(stats.faulted);
    }
}

TEST_F(StampTest, WithoutTheOptionVolumesAreTheWalks)
{
    StartFront(BaseConfig());
    auto client = LoggedInClient();
    client->SendList(MsgSubscribeMarketData, 2, "au2612");
    ASSERT_TRUE(client->ReadFrameOfType(MsgDepthMarketData));
    EXPECT_NE(SentStamps(*front_, 0).front(), 1);
    EXPECT_EQ(front_->Stats(0).stamp_written, 0u);
}

struct FaultCase {
    const char* name;
    void (*set)(FrontFaults&);
    std::uint64_t before; // stamp_before_fault once it has begun
    bool writesOn;        // whole stamped frames still follow the fault
    const char* fault;
};

// Frames 1 and 2 are the login and subscription responses, 3 on depth.
const FaultCase FaultCases[] = {
    {"CloseMidBody", [](FrontFaults& f) { f.close_mid_body_after_frames = 5; }, 3, false,
     "close-mid-body fault"},
    {"CloseAfterFrames", [](FrontFaults& f) { f.close_after_frames = 5; }, 3, false,
     "close-after-frames fault"},
    {"SilentAfterFrames", [](FrontFaults& f) { f.silent_after_frames = 5; }, 3, false,
     "silent-after-frames fault"},
    {"GarbageAfterLogin", [](FrontFaults& f) { f.garbage_after_login = 10; }, 0, true,
     "garbage-after-login fault"},
};

void PrintTo(const FaultCase& c, std::ostream* out)
{
    *out << c.name;
}

class StampFaultTest : public StampTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(StampFaultTest, BeforeFaultStopsAtTheLastRecordWrittenAheadOfIt)
{
    auto cfg = StampConfig();
    GetParam().set(cfg.faults);
    StartFront(cfg);
    FrontTestClient client(port_);
    client.SendLogin(1, "alice", "x");
    client.SendList(MsgSubscribeMarketData, 2, "au2612");
    ASSERT_TRUE(front_->WaitForConnections(1, Patience));
    const std::uint64_t want = GetParam().writesOn ? 3 : GetParam().before;
    ASSERT_TRUE(front_->WaitUntil(Patience, [&] {
        const auto s = front_->Stats(0);
        return s.faulted && s.stamp_written >= want;
    }));
    const auto stats = front_->Stats(0);
    EXPECT_EQ(stats.fault, GetParam().fault);
    EXPECT_EQ(stats.stamp_before_fault, GetParam().before);
    if (!GetParam().writesOn) {
        EXPECT_EQ(stats.stamp_written, GetParam().before);
    }
    EXPECT_EQ(SentStamps(*front_, 0), OneTo(SentStamps(*front_, 0).size()));
}

INSTANTIATE_TEST_SUITE_P(Faults, StampFaultTest, ::testing::ValuesIn(FaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST_F(StampTest, FaultsCanDifferPerConnection)
{
    auto cfg = BaseConfig();
    cfg.faults_of = [](std::size_t conn) {
        FrontFaults f;
        if (conn % 2 == 0)
            f.refuse_logins = true;
        return f;
    };
    StartFront(cfg);
    for (int conn = 0; conn < 4; ++conn) {
        FrontTestClient client(port_);
        client.SendLogin(1, "alice", "x");
        auto rsp = client.ReadFrame();
        ASSERT_TRUE(rsp);
        EXPECT_EQ(ErrorIdAt(rsp->body, mdfront::LoginRecordSize) != 0, conn % 2 == 0)
            << "connection " << conn;
    }
}

// Stops the front with a drain time while the client reads to the end of
// the stream and then closes its end.
void StopWhileReading(mdfront::FrontServer& front, std::unique_ptr<FrontTestClient>& client,
                      std::chrono::milliseconds drain)
{
    auto stopped = std::async(std::launch::async, [&] { front.Stop(drain); });
    Bytes rest;
    EXPECT_TRUE(client->ReadToEof(rest));
    client.reset(); // the front sees this end close and stops waiting
    stopped.get();
}

TEST_F(StampTest, DrainingStopLetsTheClientReadEverythingWritten)
{
    StartFront(StampConfig());
    auto client = LoggedInClient();
    client->SendList(MsgSubscribeMarketData, 2, "au2612|ag2612");
    ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(0).stamp_written >= 10; }));
    // Unread bytes on the front's side would make a plain close reset the link.
    client->SendHeartBeat(5);
    StopWhileReading(*front_, client, Patience);

    const auto conn = front_->Connection(0);
    EXPECT_EQ(conn.stats.fault, "front stopped");
    EXPECT_TRUE(conn.stats.socket_closed);
    EXPECT_TRUE(conn.stats.all_acknowledged);
    EXPECT_EQ(conn.stats.stamp_before_fault, conn.stats.stamp_written);
    EXPECT_EQ(SentStamps(*front_, 0), OneTo(conn.stats.stamp_written));
    std::size_t sent = 0;
    for (const SentFrame& f : conn.sent)
        sent += f.bytes.size();
    EXPECT_EQ(conn.stats.bytes_written, sent);
}

TEST_F(StampTest, AbortClosesAtOnce)
{
    StartFront(StampConfig());
    auto client = LoggedInClient();
    front_->Abort(0);
    Bytes rest;
    EXPECT_TRUE(client->ReadToEof(rest));
    ASSERT_TRUE(front_->WaitUntil(Patience, [&] { return front_->Stats(0).socket_closed; }));
    EXPECT_EQ(front_->Stats(0).close_reason, "aborted on request");
    EXPECT_TRUE(front_->Stats(0).faulted);
}

TEST_F(StampTest, StopAndStartOnTheSamePortManyTimes)
{
    StartFront(StampConfig());
    front_->SetPort(port_);
    for (std::size_t round = 0; round < 20; ++round) {
        {
            auto client = LoggedInClient();
            client->SendList(MsgSubscribeMarketData, 2, "au2612");
            auto f = client->ReadFrameOfType(MsgDepthMarketData);
            ASSERT_TRUE(f) << "round " << round;
            if (round % 2) {
                StopWhileReading(*front_, client, Patience);
            } else {
                front_->Stop();
                Bytes rest;
                EXPECT_TRUE(client->ReadToEof(rest)) << "round " << round;
            }
        }
        EXPECT_FALSE(front_->Running());
        const auto stats = front_->Stats(round);
        EXPECT_TRUE(stats.socket_closed) << "round " << round;
        EXPECT_EQ(stats.fault, "front stopped") << "round " << round;
        ASSERT_EQ(front_->Start(), port_) << "round " << round;
    }
    EXPECT_EQ(front_->ConnectionCount(), 20u);
}

} // namespace
} // namespace fronttest
