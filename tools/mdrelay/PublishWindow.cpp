#include "PublishWindow.h"

#include <algorithm>

namespace mdrelay {

namespace {

PublishWindow::Limits Checked(PublishWindow::Limits l)
{
    l.bound = std::max<std::size_t>(l.bound, 1);
    l.firstPauseNs = std::max<std::int64_t>(l.firstPauseNs, 1);
    l.maxPauseNs = std::max(l.maxPauseNs, l.firstPauseNs);
    return l;
}

} // namespace

PublishWindow::PublishWindow(const Limits& limits)
    : limits_(Checked(limits)), ring_(new Entry[limits_.bound]), pauseNs_(limits_.firstPauseNs)
{}

PublishWindow::Step PublishWindow::Next(std::int64_t nowNs, std::int64_t* wakeAtNs) const
{
    *wakeAtNs = 0;
    switch (state_) {
    case State::Draining: return Step::Wait;
    case State::Probing:
        if (probing_)
            return Step::Wait;
        if (nowNs < probeAtNs_) {
            *wakeAtNs = probeAtNs_;
            return Step::Wait;
        }
        return Step::Resend;
    case State::Flowing: break;
    }
    if (failed_ > 0)
        return Step::Resend;
    if (Held() >= limits_.bound)
        return Step::Wait;
    // With nothing failed and done entries popped, the head is the oldest in flight.
    if (inFlight_ > 0 && nowNs - At(head_).sentNs >= limits_.stallNs)
        return Step::Wait;
    return Step::SendNew;
}

void PublishWindow::SentNew(std::uint64_t seq, std::int64_t nowNs)
{
    At(tail_) = Entry{seq, nowNs, Status::InFlight, nullptr};
    ++tail_;
    ++inFlight_;
}

void* PublishWindow::Resend(std::int64_t nowNs)
{
    const std::uint64_t index = NextFailed();
    if (index == tail_)
        return nullptr;
    Entry& e = At(index);
    void* msg = e.msg;
    e.msg = nullptr;
    e.status = Status::InFlight;
    e.sentNs = nowNs;
    --failed_;
    ++inFlight_;
    cursor_ = index + 1;
    if (state_ == State::Probing) {
        probing_ = true;
        probe_ = index;
    }
    return msg;
}

std::int64_t PublishWindow::Acked(std::uint64_t seq)
{
    const std::uint64_t index = Find(seq);
    if (index == tail_ || At(index).status != Status::InFlight)
        return 0;
    const std::int64_t sentNs = At(index).sentNs;
    At(index).status = Status::Done;
    --inFlight_;
    if (state_ == State::Probing && probing_ && index == probe_) {
        // The stream takes records again: the rest follow, oldest first.
        probing_ = false;
        state_ = State::Flowing;
        pauseNs_ = limits_.firstPauseNs;
        cursor_ = head_;
    }
    PopDone();
    if (state_ == State::Draining && inFlight_ == 0)
        EnterProbing();
    return sentNs;
}

bool PublishWindow::Failed(std::uint64_t seq, void* msg, std::int64_t nowNs)
{
    const std::uint64_t index = Find(seq);
    if (index == tail_ || At(index).status != Status::InFlight)
        return false;
    Entry& e = At(index);
    e.status = Status::Failed;
    e.msg = msg;
    --inFlight_;
    ++failed_;
    cursor_ = std::min(cursor_, index);
    if (state_ == State::Flowing)
        state_ = State::Draining;
    if (state_ == State::Draining && inFlight_ == 0) {
        EnterProbing();
    } else if (state_ == State::Probing && probing_ && index == probe_) {
        probing_ = false;
        probeAtNs_ = nowNs + pauseNs_;
        pauseNs_ = std::min(pauseNs_ * 2, limits_.maxPauseNs);
        cursor_ = head_;
    }
    return true;
}

std::int64_t PublishWindow::OldestInFlightNs() const
{
    if (inFlight_ == 0)
        return 0;
    // Flowing, the head is in flight; otherwise failed records may come first.
    for (std::uint64_t i = head_; i < tail_; ++i)
        if (At(i).status == Status::InFlight)
            return At(i).sentNs;
    return 0;
}

void PublishWindow::ProbeNow()
{
    pauseNs_ = limits_.firstPauseNs;
    probeAtNs_ = 0;
}

std::uint64_t PublishWindow::Find(std::uint64_t seq) const
{
    std::uint64_t lo = head_, hi = tail_;
    if (lo < hi && At(lo).seq == seq)
        return lo; // acknowledgements mostly come for the oldest
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (At(mid).seq < seq)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < tail_ && At(lo).seq == seq ? lo : tail_;
}

void PublishWindow::PopDone()
{
    while (head_ < tail_ && At(head_).status == Status::Done)
        ++head_;
    cursor_ = std::max(cursor_, head_);
}

std::uint64_t PublishWindow::NextFailed() const
{
    std::uint64_t c = std::max(cursor_, head_);
    while (c < tail_ && At(c).status != Status::Failed)
        ++c;
    cursor_ = c;
    return c;
}

void PublishWindow::EnterProbing()
{
    state_ = State::Probing;
    probing_ = false;
    probeAtNs_ = 0; // the first probe goes at once
    cursor_ = head_;
}

} // namespace mdrelay
