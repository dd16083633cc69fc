// The pushing half of a session on a shared feed: every slot's record of
// every subscribed instrument, in order, sent when the slot starts (a late
// timer catches up on the slots it missed, up to a burst).
#include "FrontSession.h"

#include <algorithm>

namespace mdfront {

namespace {

constexpr std::int64_t MaxBurst = 1000;

} // namespace

SlotFeed& FrontSession::SlotFeedOf(const std::string& id)
{
    auto it = slotFeeds_.find(id);
    if (it == slotFeeds_.end())
        it = slotFeeds_.emplace(id, SlotFeed({id, ExchangeOf(id)}, ctx_->trading_day, cfg_.seed)).first;
    return it->second;
}

void FrontSession::PushSlots()
{
    const std::int64_t now = slots_->SlotAt(std::chrono::system_clock::now());
    for (std::size_t i = 0; i < subs_.size() && MayPush(); ++i) {
        Subscription& s = subs_[i];
        // A front that fell far behind skips ahead rather than flood.
        s.nextSlot = std::max(s.nextSlot, now - MaxBurst + 1);
        for (; s.nextSlot <= now && MayPush(); ++s.nextSlot) {
            ++s.sent;
            PushRecord(SlotFeedOf(s.id).At(s.nextSlot, *slots_));
        }
    }
    ArmPushTimer();
}

void FrontSession::ArmSlotTimer()
{
    std::int64_t next = subs_.front().nextSlot;
    for (const Subscription& s : subs_)
        next = std::min(next, s.nextSlot);
    const auto wait = slots_->StartOf(next) - std::chrono::system_clock::now();
    pushTimer_.expires_after(std::max(wait, std::chrono::system_clock::duration::zero()));
    auto self = shared_from_this();
    pushTimer_.async_wait([self](const asio::error_code& e) {
        if (!e)
            self->PushTick();
    });
}

// The next period of for-quote notices starts on the same wall-clock
// boundary on every front.
std::chrono::steady_clock::duration FrontSession::UntilNextNotice() const
{
    const auto now = std::chrono::system_clock::now();
    const SharedNotice n = SharedNoticeAt(now, cfg_.forquote_interval);
    const auto next =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            cfg_.forquote_interval * (n.period + 1)));
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(next - now);
}

} // namespace mdfront
