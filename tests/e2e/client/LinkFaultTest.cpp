// Faults that cost the client its link, each with the reason the
// application hears and where the client connects next. On the fast-time
// base library: reconnect delays of 150 ms, a heartbeat timeout at 1.05 s.
#include "E2eSupport.h"
#include "PlatformErrors.h"

#include <cerrno>

namespace e2e {
namespace {

using Link = std::pair<Kind, int>;
const Link Up{Kind::Connected, 0};

Link Down(int reason)
{
    return {Kind::Disconnected, reason};
}

class LinkFault : public ClientTest {
protected:
    // The connection events seen so far, with their reasons.
    std::vector<Link> Links() const
    {
        std::vector<Link> out;
        for (const Event& e : session_->Events())
            if (e.kind == Kind::Connected || e.kind == Kind::Disconnected)
                out.emplace_back(e.kind, e.reason);
        return out;
    }

    std::vector<Link> FirstLinks(std::size_t n) const
    {
        std::vector<Link> all = Links();
        all.resize(std::min(n, all.size()));
        return all;
    }
};

TEST_F(LinkFault, DroppedLinkReportsLinkLostAndReconnectsToTheSameFront)
{
    mdfront::FrontServer& first = AddFront(BaseConfig());
    mdfront::FrontServer& second = AddFront(BaseConfig());
    session_->instruments = {"au2612"};
    StartClient({Address(first), Address(second)});
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 1));
    first.CloseConnection(0);
    ASSERT_TRUE(session_->WaitCount(Kind::Login, 2));
    const std::size_t before = session_->Count(Kind::Depth);
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, before + 1)); // subscribed again, data again
    EXPECT_EQ(FirstLinks(3), (std::vector<Link>{Up, Down(ReasonLinkLost), Up}));
    EXPECT_EQ(first.ConnectionCount(), 2u);
    EXPECT_EQ(second.ConnectionCount(), 0u);
    EXPECT_EQ(first.Stats(1).subscribed, std::vector<std::string>{"au2612"});
}

TEST_F(LinkFault, RefusedConnectReportsTheBaseReasonAndRetries)
{
    StartClient({refusing_.Address()});
    ASSERT_TRUE(session_->WaitCount(Kind::Disconnected, 2));
    EXPECT_EQ(FirstLinks(2),
              (std::vector<Link>{Down(kelvotest::kConnRefused), Down(kelvotest::kConnRefused)}));
}

TEST_F(LinkFault, FirstFrontRefusingTheSecondIsReached)
{
    mdfront::FrontServer& second = AddFront(BaseConfig());
    StartClient({refusing_.Address(), Address(second)});
    ASSERT_TRUE(session_->WaitCount(Kind::Login, 1));
    EXPECT_EQ(FirstLinks(2), (std::vector<Link>{Down(kelvotest::kConnRefused), Up}));
    // The front notes the login just after answering it.
    EXPECT_TRUE(second.WaitUntil(Patience, [&] { return second.Stats(0).logged_in; }));
}

// A header announcing more than 1 MiB of body: the stream cannot be
// followed, the link is dropped like a lost one and memory is not spent.
class OversizedBody : public LinkFault, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(OversizedBody, DropsTheLinkAndReconnects)
{
    mdfront::FrontConfig cfg = BaseConfig();
    cfg.faults.announce_body_length = GetParam();
    mdfront::FrontServer& front = AddFront(cfg);
    const ProcessCounts before = CountProcess();
    StartClient({Address(front)});
    ASSERT_TRUE(session_->WaitCount(Kind::Login, 2));
    EXPECT_EQ(FirstLinks(3), (std::vector<Link>{Up, Down(ReasonLinkLost), Up}));
    EXPECT_LT(CountProcess().residentKiB - before.residentKiB, 64 * 1024);
    const std::string record = "body of " + std::to_string(GetParam()) + " bytes";
    const auto lines = LogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find("<err>") != std::string::npos && l.find(record) != std::string::npos;
    }));
}

INSTANTIATE_TEST_SUITE_P(Announced, OversizedBody,
                         ::testing::Values((1u << 20) + 1, 0x7FFFFFFFu, 0xFFFFFFFFu));

// Random bytes behind the login response: whatever header they make, the
// client must not crash and must get back to a working link, by the 1 MiB
// rule (0x2001) or by the heartbeat timeout (0x2002).
struct Garbage {
    std::size_t bytes;
    bool subscribe; // depth data keeps coming after the garbage
};

void PrintTo(const Garbage& g, std::ostream* out)
{
    *out << g.bytes << (g.subscribe ? " bytes, then data" : " bytes");
}

class GarbageBytes : public LinkFault, public ::testing::WithParamInterface<Garbage> {};

TEST_P(GarbageBytes, LinkRecovers)
{
    mdfront::FrontConfig cfg = BaseConfig();
    cfg.faults.garbage_after_login = GetParam().bytes;
    mdfront::FrontServer& front = AddFront(cfg);
    if (GetParam().subscribe)
        session_->instruments = {"au2612"};
    StartClient({Address(front)});
    ASSERT_TRUE(session_->WaitCount(Kind::Login, 2));
    const std::vector<Link> links = FirstLinks(3);
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0], Up);
    EXPECT_TRUE(links[1] == Down(ReasonLinkLost) || links[1] == Down(ReasonHeartBeatTimeout))
        << links[1].second;
    EXPECT_EQ(links[2], Up);
    EXPECT_GE(front.ConnectionCount(), 2u); // each new link gets its garbage too
}

INSTANTIATE_TEST_SUITE_P(Sizes, GarbageBytes,
                         ::testing::Values(Garbage{1, false}, Garbage{23, false}, Garbage{1, true},
                                           Garbage{100, true}, Garbage{5000, true}),
                         [](const ::testing::TestParamInfo<Garbage>& info) {
                             return std::to_string(info.param.bytes) +
                                 (info.param.subscribe ? "BytesThenData" : "Bytes");
                         });

} // namespace
} // namespace e2e
