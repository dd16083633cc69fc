// The pushing half of a session that replays capture files: the records in
// file order, each once as much time has passed since the session's first
// subscription as passed between the first record's receipt and its own
// (divided by the speed), to the instruments subscribed at that moment; or,
// at speed 0, as fast as the socket takes them. Played once.
#include "FrontSession.h"

#include "FrameBuilder.h"

#include <algorithm>

namespace mdfront {

namespace {

constexpr std::size_t FloodBacklog = 256 * 1024;
// Records looked at in one turn of the loop, sent or not.
constexpr int MaxBurst = 1000;

} // namespace

bool FrontSession::FloodsSocket() const
{
    return ctx_->capture ? cfg_.replay_speed <= 0 : cfg_.rate <= 0;
}

const FrontSession::Subscription* FrontSession::SubscriptionOf(const std::string& id) const
{
    for (const Subscription& s : subs_)
        if (s.id == id)
            return &s;
    return nullptr;
}

void FrontSession::StartReplay()
{
    if (player_ || replayDone_)
        return;
    player_ = std::make_unique<CapturePlayer>(*ctx_->capture);
    replayStart_ = std::chrono::steady_clock::now();
    Event("replay of " + std::to_string(ctx_->capture->Records()) + " records started");
}

std::chrono::steady_clock::time_point FrontSession::DueOf(std::int64_t receiveNs) const
{
    // Bounded, so that a clock jump in the file cannot overflow the time
    // point; a record stamped before the first is due at once.
    constexpr double MaxAheadNs = 1e17;
    const double ns = std::clamp(
        static_cast<double>(receiveNs - ctx_->capture->FirstNs()) / cfg_.replay_speed, 0.0, MaxAheadNs);
    return replayStart_ +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double, std::nano>(ns));
}

bool FrontSession::NextCaptured()
{
    if (replayPending_)
        return true;
    if (player_ && player_->Next(replayNs_, replayDepth_)) {
        replayPending_ = true;
        return true;
    }
    if (!replayDone_)
        Event("replay finished");
    replayDone_ = true;
    player_.reset();
    return false;
}

void FrontSession::PushCaptured()
{
    if (!player_ || subs_.empty())
        return;
    const bool flood = FloodsSocket();
    const auto now = std::chrono::steady_clock::now();
    int n = 0;
    for (; n < MaxBurst && MayPush() && NextCaptured(); ++n) {
        const auto due = flood ? now : DueOf(replayNs_);
        if (flood ? queuedBytes_ >= FloodBacklog : due > now)
            break;
        replayPending_ = false;
        // A subscription that came after the record was due does not get it.
        const Subscription* sub =
            SubscriptionOf(MemberText(replayDepth_.InstrumentID, sizeof replayDepth_.InstrumentID));
        if (sub && (flood || due >= sub->start))
            PushRecord(replayDepth_);
    }
    if (!flood) {
        ArmReplayTimer();
    } else if (n == MaxBurst) {
        // Cut short with room left in the socket's queue: the rest on the next turn.
        auto self = shared_from_this();
        asio::post(socket_.get_executor(), [self] { self->PushCaptured(); });
    }
}

void FrontSession::ArmReplayTimer()
{
    if (!player_ || !MayPush() || subs_.empty())
        return;
    if (FloodsSocket()) {
        PushCaptured();
        return;
    }
    if (!NextCaptured())
        return;
    pushTimer_.expires_at(DueOf(replayNs_));
    auto self = shared_from_this();
    pushTimer_.async_wait([self](const asio::error_code& e) {
        if (!e)
            self->PushTick();
    });
}

} // namespace mdfront
