// The pushing half of a session: depth records at the configured rate (or
// as fast as the socket drains), and periodic for-quote notices.
#include "FrontSession.h"

#include "DepthText.h"
#include "LocalTime.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mdfront {

namespace {

// Queued bytes above which pushing waits for the socket.
constexpr std::size_t MaxBacklog = 1u << 20;
constexpr std::size_t FloodBacklog = 256 * 1024;
// Records one instrument may catch up in one go after a stall.
constexpr std::uint64_t MaxBurst = 1000;
constexpr std::chrono::milliseconds BacklogRetry{5};

void Remove(std::vector<std::string>& list, const std::string& id)
{
    list.erase(std::remove(list.begin(), list.end(), id), list.end());
}

} // namespace

std::string FrontSession::ExchangeOf(const std::string& id) const
{
    auto known = ctx_->known.find(id);
    return known != ctx_->known.end() ? known->second : cfg_.default_exchange;
}

InstrumentFeed& FrontSession::FeedOf(const std::string& id)
{
    auto it = feeds_.find(id);
    if (it == feeds_.end())
        it =
            feeds_
                .emplace(id, InstrumentFeed({id, ExchangeOf(id)}, ctx_->trading_day, cfg_.seed, ctx_->replay))
                .first;
    return it->second;
}

void FrontSession::Subscribe(const std::string& id)
{
    for (const Subscription& s : subs_)
        if (s.id == id)
            return;
    const std::int64_t slot = slots_ ? slots_->SlotAt(std::chrono::system_clock::now()) : 0;
    subs_.push_back({id, std::chrono::steady_clock::now(), 0, slot});
    rec_.Update(index_, [&id](ConnectionStats& s) { s.subscribed.push_back(id); });
}

void FrontSession::Unsubscribe(const std::string& id)
{
    subs_.erase(
        std::remove_if(subs_.begin(), subs_.end(), [&id](const Subscription& s) { return s.id == id; }),
        subs_.end());
    rec_.Update(index_, [&id](ConnectionStats& s) { Remove(s.subscribed, id); });
}

void FrontSession::SubscribeForQuote(const std::string& id)
{
    if (std::find(forQuoteSubs_.begin(), forQuoteSubs_.end(), id) != forQuoteSubs_.end())
        return;
    forQuoteSubs_.push_back(id);
    newForQuoteSubs_.push_back(id);
    rec_.Update(index_, [&id](ConnectionStats& s) { s.forquote_subscribed.push_back(id); });
}

void FrontSession::UnsubscribeForQuote(const std::string& id)
{
    Remove(forQuoteSubs_, id);
    Remove(newForQuoteSubs_, id);
    rec_.Update(index_, [&id](ConnectionStats& s) { Remove(s.forquote_subscribed, id); });
}

bool FrontSession::MayPush() const
{
    return loggedIn_ && !silent_ && !closing_ && !closed_;
}

void FrontSession::PushDepth(const std::string& id)
{
    PushRecord(FeedOf(id).Next(mdtools::NowLocal()));
}

void FrontSession::PushRecord(CThostFtdcDepthMarketDataField d)
{
    if (cfg_.stamp_sequence)
        d.Volume = static_cast<int>(++stamp_);
    const BodyShape shape = Shape(BodyKind::Depth, firstDepth_);
    firstDepth_ = false;
    Bytes body;
    std::uint32_t marker = mdlink::MarkerBinary;
    if (cfg_.form == DepthForm::Binary) {
        body = RecordBytes(&d, sizeof d);
        if (shape.pad_to > 0)
            body.resize(std::max(shape.pad_to, body.size()), 0);
        else
            ApplyCut(body, shape);
    } else {
        TextOptions opt;
        opt.form = cfg_.form;
        opt.field_count = cfg_.text_fields;
        opt.empty_zeros = cfg_.text_empty_zeros;
        opt.pad_to = shape.pad_to;
        body = DepthTextBody(d, opt);
        marker = cfg_.form == DepthForm::Text ? mdlink::MarkerText : mdlink::MarkerTextJoined;
    }
    SentFrame rec;
    rec.has_depth = true;
    rec.depth = d;
    QueueFrame(MakeFrame(mdlink::MsgDepthMarketData, 0, false, body, marker), std::move(rec));
}

void FrontSession::PushTick()
{
    if (!MayPush())
        return;
    if (queuedBytes_ > MaxBacklog) {
        pushTimer_.expires_after(BacklogRetry);
        auto self = shared_from_this();
        pushTimer_.async_wait([self](const asio::error_code& e) {
            if (!e)
                self->PushTick();
        });
        return;
    }
    if (slots_) {
        PushSlots();
        return;
    }
    if (ctx_->capture) {
        PushCaptured();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < subs_.size() && MayPush(); ++i) {
        const double elapsed = std::chrono::duration<double>(now - subs_[i].start).count();
        const auto due = static_cast<std::uint64_t>(std::floor(elapsed * cfg_.rate)) + 1;
        for (std::uint64_t n = 0; subs_[i].sent < due && n < MaxBurst && MayPush(); ++n) {
            ++subs_[i].sent;
            PushDepth(subs_[i].id);
        }
    }
    ArmPushTimer();
}

void FrontSession::ArmPushTimer()
{
    if (!MayPush() || subs_.empty()) {
        pushTimer_.cancel();
        return;
    }
    if (slots_) {
        ArmSlotTimer();
        return;
    }
    if (ctx_->capture) {
        StartReplay();
        ArmReplayTimer();
        return;
    }
    if (cfg_.rate <= 0) {
        Flood();
        return;
    }
    auto next = std::chrono::steady_clock::time_point::max();
    for (const Subscription& s : subs_) {
        const auto offset = std::chrono::duration<double>(static_cast<double>(s.sent) / cfg_.rate);
        next =
            std::min(next, s.start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(offset));
    }
    pushTimer_.expires_at(next);
    auto self = shared_from_this();
    pushTimer_.async_wait([self](const asio::error_code& e) {
        if (!e)
            self->PushTick();
    });
}

void FrontSession::Flood()
{
    if (ctx_->capture) {
        PushCaptured();
        return;
    }
    while (MayPush() && !subs_.empty() && queuedBytes_ < FloodBacklog) {
        for (std::size_t i = 0; i < subs_.size() && MayPush(); ++i) {
            ++subs_[i].sent;
            PushDepth(subs_[i].id);
        }
    }
}

void FrontSession::PushForQuote(const std::string& id)
{
    if (!MayPush())
        return;
    // A shared feed numbers its notices by the period, the same on every front.
    const SharedNotice shared =
        slots_ ? SharedNoticeAt(std::chrono::system_clock::now(), cfg_.forquote_interval) : SharedNotice();
    const mdtools::LocalStamp now = slots_ ? shared.at : mdtools::NowLocal();
    CThostFtdcForQuoteRspField q;
    std::memset(&q, 0, sizeof q);
    CopyText(q.TradingDay, sizeof q.TradingDay, ctx_->trading_day);
    CopyText(q.InstrumentID, sizeof q.InstrumentID, id);
    CopyText(q.ForQuoteSysID, sizeof q.ForQuoteSysID, slots_ ? shared.sysId : std::to_string(++forQuoteSeq_));
    CopyText(q.ForQuoteTime, sizeof q.ForQuoteTime, now.time);
    CopyText(q.ActionDay, sizeof q.ActionDay, now.date);
    CopyText(q.ExchangeID, sizeof q.ExchangeID, ExchangeOf(id));
    Bytes body = RecordBytes(&q, sizeof q);
    ApplyCut(body, Shape(BodyKind::ForQuote));
    QueueFrame(MakeFrame(mdlink::MsgForQuoteRsp, 0, false, body), SentFrame{});
}

void FrontSession::PushForQuotes()
{
    const std::vector<std::string> ids = forQuoteSubs_;
    for (const std::string& id : ids)
        PushForQuote(id);
}

void FrontSession::ArmForQuoteTimer()
{
    if (forQuoteArmed_ || !MayPush() || forQuoteSubs_.empty())
        return;
    forQuoteArmed_ = true;
    forQuoteTimer_.expires_after(slots_ ? UntilNextNotice() : cfg_.forquote_interval);
    auto self = shared_from_this();
    forQuoteTimer_.async_wait([self](const asio::error_code& e) {
        self->forQuoteArmed_ = false;
        if (e || self->closed_)
            return;
        self->PushForQuotes();
        self->ArmForQuoteTimer();
    });
}

} // namespace mdfront
