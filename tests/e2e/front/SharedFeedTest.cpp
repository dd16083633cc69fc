// Two fronts serving the same feed, and a front that holds its frames back.
#include "SharedFeed.h"
#include "FrontFixture.h"

#include <cstring>
#include <map>
#include <utility>

namespace fronttest {
namespace {

using namespace mdlink;

TEST(SlotClock, SlotsFollowEachOtherAndCountWithinTheDay)
{
    const mdfront::SlotClock clock(50);
    const auto now = std::chrono::system_clock::now();
    const std::int64_t k = clock.SlotAt(now);
    EXPECT_LE(clock.StartOf(k), now);
    EXPECT_GT(clock.StartOf(k + 1), now);
    EXPECT_EQ(clock.SlotAt(clock.StartOf(k + 1)), k + 1);
    const int n = clock.NumberInDay(k);
    const int next = clock.NumberInDay(k + 1);
    EXPECT_TRUE(next == n + 1 || next == 0) << n << " then " << next; // 0 past midnight
}

TEST(SlotFeed, TheRecordOfASlotDependsOnSeedInstrumentAndSlotAlone)
{
    const mdfront::SlotClock clock(10);
    const mdfront::InstrumentInfo au{"au2612", "SHFE"};
    const mdfront::SlotFeed a(au, "20261208", 7), b(au, "20261208", 7), other(au, "20261208", 8);
    const std::int64_t k = clock.SlotAt(std::chrono::system_clock::now());
    const auto ra = a.At(k, clock);
    const auto rb = b.At(k, clock);
    EXPECT_EQ(std::memcmp(&ra, &rb, sizeof ra), 0);
    EXPECT_EQ(ra.Volume, clock.NumberInDay(k));
    const auto ro = other.At(k, clock);
    EXPECT_NE(std::memcmp(&ra, &ro, sizeof ra), 0);
}

class SharedFeedTest : public FrontFixture {
protected:
    static mdfront::FrontConfig Shared()
    {
        auto cfg = BaseConfig();
        cfg.shared_feed = true;
        cfg.rate = 50;
        cfg.seed = 11;
        return cfg;
    }
};

// (instrument, slot number) -> body, from a client of one front.
std::map<std::pair<std::string, int>, Bytes> ReadRecords(FrontTestClient& client, int n)
{
    std::map<std::pair<std::string, int>, Bytes> out;
    std::map<std::string, int> last;
    for (int i = 0; i < n; ++i) {
        auto f = client.ReadFrameOfType(MsgDepthMarketData);
        EXPECT_TRUE(f);
        if (!f)
            break;
        CThostFtdcDepthMarketDataField d;
        std::memcpy(&d, f->body.data(), sizeof d);
        auto it = last.find(d.InstrumentID);
        if (it != last.end()) { // every slot, in order (0 again past midnight)
            EXPECT_TRUE(d.Volume == it->second + 1 || d.Volume == 0) << d.InstrumentID << " " << d.Volume;
        }
        last[d.InstrumentID] = d.Volume;
        out[{d.InstrumentID, d.Volume}] = f->body;
    }
    return out;
}

TEST_F(SharedFeedTest, TwoFrontsWithOneSeedServeIdenticalRecordsPerSlot)
{
    mdfront::FrontServer second(Shared());
    const std::uint16_t secondPort = second.Start();
    StartFront(Shared());
    auto a = LoggedInClient();
    FrontTestClient b(secondPort);
    b.SendLogin(1, "bob", "x");
    a->SendList(MsgSubscribeMarketData, 2, "au2612|ag2612");
    b.SendList(MsgSubscribeMarketData, 2, "au2612|ag2612");
    const auto fromA = ReadRecords(*a, 40);
    const auto fromB = ReadRecords(b, 40);
    int shared = 0;
    for (const auto& [key, body] : fromA) {
        auto other = fromB.find(key);
        if (other == fromB.end())
            continue;
        ++shared;
        EXPECT_EQ(body, other->second) << key.first << " slot " << key.second;
    }
    EXPECT_GT(shared, 20);
    second.Stop();
}

TEST_F(SharedFeedTest, DelayedFramesLeaveLateAndInOrder)
{
    auto cfg = Shared();
    cfg.delay = std::chrono::milliseconds(100);
    cfg.jitter = std::chrono::milliseconds(30); // far more than a slot: order must hold
    StartFront(cfg);
    FrontTestClient client(port_);
    const auto sent = std::chrono::steady_clock::now();
    client.SendLogin(1, "alice", "x");
    ASSERT_TRUE(client.ReadFrameOfType(MsgRspUserLogin));
    // A lower bound only: the front cannot send the answer before it is due.
    EXPECT_GE(std::chrono::steady_clock::now() - sent, cfg.delay);
    client.SendList(MsgSubscribeMarketData, 2, "au2612");
    ReadRecords(client, 30);
}

} // namespace
} // namespace fronttest
