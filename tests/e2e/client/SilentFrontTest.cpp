// A front that falls silent: heartbeats after 12, 15 and 18 s of silence go
// unanswered, and at 21 s the client gives the front up, connects to the
// next registered one and reports 0x2002. Built into the fast-time tests and,
// once, onto the real timeline.
#include "E2eSupport.h"

namespace e2e {
namespace {

class SilentFront : public ClientTest {};

TEST_F(SilentFront, HeartBeatTimeoutMovesToTheNextFront)
{
    mdfront::FrontConfig silent = BaseConfig();
    silent.faults.silent_after_frames = 1; // the login response
    mdfront::FrontServer& first = AddFront(silent);
    mdfront::FrontServer& second = AddFront(BaseConfig());
    session_->instruments = {"au2612"};
    StartClient({Address(first), Address(second)});
    ASSERT_TRUE(session_->WaitCount(Kind::Login, 2));
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 1));

    std::vector<std::pair<Kind, int>> links;
    for (const Event& e : session_->Events())
        if (e.kind == Kind::Connected || e.kind == Kind::Disconnected)
            links.emplace_back(e.kind, e.reason);
    const std::vector<std::pair<Kind, int>> expected = {
        {Kind::Connected, 0}, {Kind::Disconnected, ReasonHeartBeatTimeout}, {Kind::Connected, 0}};
    EXPECT_EQ(links, expected);

    // The silent front got three heartbeats in a row, then lost the client.
    ASSERT_TRUE(first.WaitUntil(Patience, [&] { return !first.Stats(0).open; }));
    EXPECT_EQ(first.Stats(0).close_reason, "closed by the client");
    std::vector<std::int32_t> heartbeats;
    for (const mdfront::ReceivedFrame& f : first.Connection(0).received)
        if (f.header.MsgType == mdlink::MsgHeartBeat)
            heartbeats.push_back(f.header.RequestId);
    ASSERT_EQ(heartbeats.size(), 3u);
    EXPECT_EQ(heartbeats[1], heartbeats[0] + 1);
    EXPECT_EQ(heartbeats[2], heartbeats[0] + 2);
    EXPECT_EQ(first.ConnectionCount(), 1u);
    EXPECT_EQ(second.ConnectionCount(), 1u);
    EXPECT_TRUE(second.Stats(0).logged_in);
}

} // namespace
} // namespace e2e
