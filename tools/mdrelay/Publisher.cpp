#include "Publisher.h"

#include "RecordKey.h"
#include "StreamSetup.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace mdrelay {

namespace {

// Longest sleep before the thread looks again at the deadline and the queue.
constexpr std::int64_t IdleWaitNs = 50'000'000;
// Records came within this: the thread naps NapNs between looks at the queue.
constexpr std::int64_t BusyWindowNs = 20'000'000;
constexpr std::int64_t NapNs = 200'000;
constexpr std::int64_t FirstProbePauseNs = 100'000'000;
constexpr std::int64_t LongestProbePauseNs = 2'000'000'000;
constexpr std::int64_t LeaderAskMs = 250;
constexpr std::int64_t StreamAskMs = 1000;
constexpr std::int64_t RecheckPauseNs = 1'000'000'000;

std::int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::uint64_t SequenceOf(natsMsg* msg)
{
    const char* value = nullptr;
    BusRecordInfo info;
    if (!msg || natsMsgHeader_Get(msg, HeaderRecord, &value) != NATS_OK ||
        CheckBusRecord(value, static_cast<std::size_t>(natsMsg_GetDataLength(msg)), info) != BusCheck::Ok)
        return 0;
    return info.sequence;
}

Publisher::Publisher(RecordQueue& queue, NatsLink& link, const PublisherSettings& settings)
    : queue_(queue), link_(link), settings_(settings), subjects_(settings.prefix),
      window_(
          PublishWindow::Limits{settings.inFlight, settings.stallNs, FirstProbePauseNs, LongestProbePauseNs})
{}

Publisher::~Publisher()
{
    Finish(0);
}

void Publisher::Start()
{
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "mdrelay-publish");
        while (Step()) {}
    });
}

void Publisher::LinkChanged(bool)
{
    // The link's generation has changed already; the thread reads it under
    // mu_ before it sleeps, so taking mu_ here means it cannot miss this.
    {
        std::lock_guard<std::mutex> lk(mu_);
    }
    cv_.notify_one();
    queue_.Wake();
}

void Publisher::Rebind(std::uint64_t generation)
{
    // Only this thread binds: a change of the link after the generation
    // was read shows as another generation, and another rebind.
    boundGeneration_ = generation;
    StopWatchingLeader();
    if (js_) {
        TakeBack(); // their acknowledgements went with the connection
        jsCtx_Destroy(js_);
        js_ = nullptr;
    }
    jsPublished_ = false;
    jsOptions o;
    jsOptions_Init(&o);
    // Our window holds at most inFlight; the client library's own bound is
    // never what stops a publish.
    o.PublishAsync.MaxPending = static_cast<std::int64_t>(settings_.inFlight) * 2;
    o.PublishAsync.AckHandler = OnAck;
    o.PublishAsync.AckHandlerClosure = this;
    // The stream's questions (is it there, who leads it) are asked on this
    // thread: without a leader nobody answers, and publishing waits.
    o.Wait = StreamAskMs;
    link_.WithConnection([&](natsConnection* nc) {
        if (nc && natsConnection_JetStream(&js_, nc, &o) != NATS_OK)
            js_ = nullptr;
        if (js_)
            WatchLeader(nc);
    });
    if (js_ && bound_)
        recheckAtNs_ = SteadyNs(); // once there (Step), and again until answered
    bound_ = bound_ || js_;
    if (js_)
        leader_ = AskLeader();
    std::lock_guard<std::mutex> lk(mu_);
    connected_ = js_ != nullptr;
}

void Publisher::WatchLeader(natsConnection* nc)
{
    // A user not allowed to subscribe to advisories gets the server's
    // refusal printed once; failures then wait for the ack wait.
    const std::string subject = "$JS.EVENT.ADVISORY.STREAM.LEADER_ELECTED." + settings_.stream.name;
    if (natsConnection_Subscribe(&leaderSub_, nc, subject.c_str(), OnLeaderElected, this) != NATS_OK)
        leaderSub_ = nullptr;
}

std::string Publisher::AskLeader()
{
    // Briefly: without a leader nobody answers, and this thread waits.
    jsOptions o;
    jsOptions_Init(&o);
    o.Wait = LeaderAskMs;
    jsStreamInfo* si = nullptr;
    std::string leader;
    if (js_GetStreamInfo(&si, js_, settings_.stream.name.c_str(), &o, nullptr) == NATS_OK && si->Cluster &&
        si->Cluster->Leader)
        leader = si->Cluster->Leader;
    jsStreamInfo_Destroy(si);
    return leader;
}

void Publisher::ProbeLeader()
{
    const std::string leader = AskLeader();
    if (leader.empty() || leader == leader_)
        return; // no leader yet, or the same: acknowledgements may still come
    leader_ = leader;
    TakeBack();
    std::lock_guard<std::mutex> lk(mu_);
    window_.ProbeNow();
}

void Publisher::StopWatchingLeader()
{
    if (!leaderSub_)
        return;
    natsSubscription_Unsubscribe(leaderSub_);
    natsSubscription_Destroy(leaderSub_);
    leaderSub_ = nullptr;
}

void Publisher::OnLeaderElected(natsConnection*, natsSubscription*, natsMsg* msg, void* closure)
{
    auto* self = static_cast<Publisher*>(closure);
    natsMsg_Destroy(msg);
    {
        std::lock_guard<std::mutex> lk(self->mu_);
        self->leaderElected_ = true;
    }
    self->cv_.notify_one();
    self->queue_.Wake();
}

void Publisher::RecheckStream()
{
    const StreamReport r = EnsureStream(js_, settings_.stream, settings_.mismatch);
    const char* name = settings_.stream.name.c_str();
    switch (r.outcome) {
    case StreamOutcome::Created: std::printf("mdrelay: stream %s was gone; created it again\n", name); break;
    case StreamOutcome::Updated: std::printf("mdrelay: updated stream %s to the flags again\n", name); break;
    case StreamOutcome::Differs:
        for (const std::string& d : r.differences)
            std::fprintf(stderr, "mdrelay: stream %s differs now: %s\n", name, d.c_str());
        break;
    case StreamOutcome::Matches:
    case StreamOutcome::Used: break;
    case StreamOutcome::Failed:
        // No leader yet, say: publishing goes on, and the check comes again.
        if (prints_.Allow("check " + settings_.stream.name, SteadyNs()))
            std::fprintf(stderr, "mdrelay: checking stream %s after reconnecting: %s\n", name,
                         r.error.c_str());
        recheckAtNs_ = SteadyNs() + RecheckPauseNs;
        return; // what it takes is as it was
    }
    std::fflush(stdout);
    recheckAtNs_ = 0;
    SetStreamSubjects(r.subjects);
}

void Publisher::SetStreamSubjects(const std::vector<std::string>& subjects)
{
    std::lock_guard<std::mutex> lk(mu_);
    streamSubjects_ = subjects;
    takesAll_ = TakesPrefix(subjects, settings_.prefix);
    outside_.clear();
}

void Publisher::NotPermitted(const std::string& subject)
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        // Newly refused: what is in flight is taken back rather than left to
        // time out, holding the other subjects back that long.
        const auto it = notPermittedUntil_.find(subject);
        takeBack_ = takeBack_ || it == notPermittedUntil_.end() || it->second <= SteadyNs();
        notPermittedUntil_[subject] = SteadyNs() + Throttle::Minute;
    }
    cv_.notify_one();
}

const char* Publisher::RefusalOf(const char* subject, std::int64_t now)
{
    if (!takesAll_) {
        auto it = outside_.find(subject);
        if (it == outside_.end()) {
            bool taken = false;
            for (const std::string& s : streamSubjects_)
                taken = taken || SubjectMatches(s, subject);
            it = outside_.emplace(subject, !taken).first;
        }
        if (it->second)
            return "the stream does not take it";
    }
    if (!notPermittedUntil_.empty()) {
        const auto it = notPermittedUntil_.find(subject);
        if (it != notPermittedUntil_.end() && now < it->second)
            return "not permitted to this user";
    }
    return nullptr;
}

void Publisher::Refused(const char* subject, const char* why)
{
    ++refused_;
    if (prints_.Allow(subject, SteadyNs()))
        std::fprintf(stderr, "mdrelay: %s: %s; its records are counted as refused\n", subject, why);
}

bool Publisher::Step()
{
    if (!ready_ && stagedAt_ < stagedCount_) {
        const RelayRecord& r = staged_[stagedAt_++];
        ready_ = Build(r);
        readySeq_ = r.sequence;
        if (!ready_)
            ++unbuilt_;
        return true;
    }
    std::unique_lock<std::mutex> lk(mu_);
    const std::uint64_t generation = link_.Generation();
    if (generation != boundGeneration_) {
        lk.unlock();
        Rebind(generation);
        return true;
    }
    if (takeBack_) {
        takeBack_ = false;
        lk.unlock();
        TakeBack(); // sent again, but for the refused
        std::lock_guard<std::mutex> relock(mu_);
        window_.ProbeNow();
        return true;
    }
    if (leaderElected_) {
        leaderElected_ = false;
        lk.unlock();
        TakeBack();      // failed now: the window sends them again, oldest first
        leader_.clear(); // the next probe learns the new one
        std::lock_guard<std::mutex> relock(mu_);
        window_.ProbeNow();
        return true;
    }
    const std::int64_t now = SteadyNs();
    if (finishing_ && (Done() || now >= deadlineNs_))
        return false;
    if (recheckAtNs_ > 0 && now >= recheckAtNs_ && connected_) {
        lk.unlock();
        RecheckStream();
        return true;
    }
    std::int64_t wakeAt = 0;
    const PublishWindow::Step step = connected_ ? window_.Next(now, &wakeAt) : PublishWindow::Step::Wait;
    if (step == PublishWindow::Step::Resend) {
        natsMsg* msg = static_cast<natsMsg*>(window_.Resend(now));
        const std::uint64_t seq = SequenceOf(msg);
        if (const char* why = RefusalOf(natsMsg_GetSubject(msg), now)) {
            window_.Acked(seq); // given up: the others go on
            lk.unlock();
            Refused(natsMsg_GetSubject(msg), why);
            natsMsg_Destroy(msg);
            return true;
        }
        lk.unlock();
        ++retried_;
        Send(msg, seq);
        return true;
    }
    if (step == PublishWindow::Step::SendNew && ready_) {
        natsMsg* msg = ready_;
        ready_ = nullptr;
        if (const char* why = RefusalOf(natsMsg_GetSubject(msg), now)) {
            // Never sent: nothing waits for it, and the rest go on.
            lk.unlock();
            Refused(natsMsg_GetSubject(msg), why);
            natsMsg_Destroy(msg);
            return true;
        }
        window_.SentNew(readySeq_, now);
        lk.unlock();
        ++published_;
        Send(msg, readySeq_);
        return true;
    }
    if (step == PublishWindow::Step::SendNew) {
        lk.unlock();
        TakeRecords(now);
        return true;
    }
    const std::int64_t oldest = connected_ ? window_.OldestInFlightNs() : 0;
    if (oldest > 0 && now - oldest >= settings_.ackWaitNs && now >= nextTimeoutNs_) {
        // Not again before a while, should the client library hold none of them.
        nextTimeoutNs_ = now + IdleWaitNs;
        // Timed out here rather than by the client library, which would keep
        // a timer for every message until its deadline, answered or not. In
        // order, everything sent since is failed with it: the window drains
        // and probes then anyway, and what was stored is stored once.
        lk.unlock();
        TakeBack();
        return true;
    }
    if (oldest > 0 && now >= nextLeaderProbeNs_ && now - oldest >= settings_.stallNs) {
        nextLeaderProbeNs_ = now + settings_.stallNs;
        lk.unlock();
        ProbeLeader();
        return true;
    }
    const std::int64_t until = wakeAt > 0 ? std::min(wakeAt, now + IdleWaitNs) : now + IdleWaitNs;
    waiting_ = true;
    cv_.wait_for(lk, std::chrono::nanoseconds(until - now));
    waiting_ = false;
    return true;
}

void Publisher::TakeRecords(std::int64_t now)
{
    stagedAt_ = 0;
    // While records come, nap between looks instead of sleeping until the
    // library's thread wakes this one: a wake-up is a system call on that
    // thread for every record. After a quiet while, sleep until woken.
    const bool busy = !settings_.wakePerRecord && now - lastRecordNs_ < BusyWindowNs;
    stagedCount_ = queue_.Pop(staged_, Batch, std::chrono::milliseconds(busy ? 0 : IdleWaitNs / 1'000'000));
    if (stagedCount_ > 0)
        lastRecordNs_ = now;
    else if (busy)
        std::this_thread::sleep_for(std::chrono::nanoseconds(NapNs));
}

natsMsg* Publisher::Build(const RelayRecord& r)
{
    const char* subject;
    if (r.kind == RecordKind::Depth) {
        CThostFtdcDepthMarketDataField d;
        std::memcpy(&d, r.bytes, sizeof d);
        subject = subjects_.Depth(d);
    } else {
        CThostFtdcForQuoteRspField q;
        std::memcpy(&q, r.bytes, sizeof q);
        subject = subjects_.ForQuote(q);
    }
    natsMsg* msg = nullptr;
    if (natsMsg_Create(&msg, subject, nullptr, reinterpret_cast<const char*>(r.bytes), r.size) != NATS_OK)
        return nullptr;
    char id[33], record[320];
    KeyText(KeyOf(static_cast<std::uint8_t>(r.kind), r.bytes, r.size), id);
    RecordHeader(record, sizeof record, r.kind, r.recvNs, r.sequence, settings_.relayName.c_str());
    natsStatus s = natsMsgHeader_Set(msg, HeaderMsgId, id);
    if (s == NATS_OK)
        s = natsMsgHeader_Set(msg, HeaderRecord, record);
    if (s != NATS_OK) {
        natsMsg_Destroy(msg);
        return nullptr;
    }
    return msg;
}

void Publisher::Send(natsMsg* msg, std::uint64_t seq)
{
    // No MaxWait: the window times acknowledgements out (see Step).
    if (js_PublishMsgAsync(js_, &msg, nullptr) == NATS_OK || !msg) {
        jsPublished_ = true;
        return; // the client library has it; OnAck tells what became of it
    }
    // Not sent (the link is down, say): it waits in the window like a failed one.
    ++failedAcks_;
    std::lock_guard<std::mutex> lk(mu_);
    if (!window_.Failed(seq, msg, SteadyNs()))
        natsMsg_Destroy(msg);
}

void Publisher::OnAck(jsCtx*, natsMsg* msg, jsPubAck* pa, jsPubAckErr* pae, void* closure)
{
    auto* self = static_cast<Publisher*>(closure);
    const std::uint64_t seq = SequenceOf(msg);
    const char* subject = natsMsg_GetSubject(msg);
    const char* refusal = nullptr;
    bool kept = false, wake = false;
    {
        std::lock_guard<std::mutex> lk(self->mu_);
        const std::int64_t now = SteadyNs();
        if (self->closed_) {
            // Finish has taken everything back; nothing of this one is held.
        } else if (pa) {
            const std::int64_t sentNs = self->window_.Acked(seq);
            ++self->acknowledged_;
            if (sentNs > 0)
                self->ackLatency_.Observe(static_cast<double>(now - sentNs) / 1e9);
            if (pa->Duplicate)
                ++self->duplicates_;
        } else if ((refusal = self->RefusalOf(subject, now)) != nullptr) {
            // Sending it again would fail again, and hold the others back.
            self->window_.Acked(seq);
        } else {
            ++self->failedAcks_;
            kept = self->window_.Failed(seq, msg, now);
        }
        wake = self->waiting_ && self->WorthWaking();
    }
    if (wake)
        self->cv_.notify_one();
    if (refusal) {
        self->Refused(subject, refusal);
    } else if (!pa && pae) {
        // Named once a minute per subject and error: which subject fails,
        // and why, is what an operator needs.
        const std::string text = pae->ErrText && *pae->ErrText ? pae->ErrText : natsStatus_GetText(pae->Err);
        if (self->prints_.Allow(std::string(subject) + " " + text, SteadyNs()))
            std::fprintf(stderr, "mdrelay: publishing to %s: %s\n", subject, text.c_str());
    }
    if (!kept)
        natsMsg_Destroy(msg);
}

void Publisher::TakeBack()
{
    natsMsgList list{};
    // The client library makes a context's pending list at its first
    // publish, and reads through a null one before.
    if (!js_ || !jsPublished_ || js_PublishAsyncGetPendingList(&list, js_) != NATS_OK)
        return; // nothing pending
    {
        std::lock_guard<std::mutex> lk(mu_);
        const std::int64_t now = SteadyNs();
        for (int i = 0; i < list.Count; ++i) {
            ++failedAcks_;
            if (!closed_ && window_.Failed(SequenceOf(list.Msgs[i]), list.Msgs[i], now))
                list.Msgs[i] = nullptr;
        }
    }
    natsMsgList_Destroy(&list);
}

bool Publisher::WorthWaking() const
{
    // A full window wakes the thread once a quarter of it is free, not at
    // every acknowledgement: one wake-up then sends a batch.
    return window_.CurrentState() != PublishWindow::State::Flowing || window_.InFlight() == 0 ||
        window_.Held() + settings_.inFlight / 4 <= settings_.inFlight;
}

bool Publisher::Done() const
{
    return !ready_ && stagedAt_ == stagedCount_ && window_.Held() == 0 && queue_.Size() == 0;
}

std::uint64_t Publisher::Finish(std::int64_t flushNs)
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!finishing_)
            deadlineNs_ = SteadyNs() + flushNs;
        finishing_ = true;
    }
    cv_.notify_one();
    queue_.Wake();
    if (thread_.joinable())
        thread_.join();
    {
        std::lock_guard<std::mutex> lk(mu_);
        closed_ = true;
    }
    StopWatchingLeader();
    TakeBack(); // no acknowledgement reaches the window from here on
    std::lock_guard<std::mutex> lk(mu_);
    const std::uint64_t left = queue_.Size() + (stagedCount_ - stagedAt_) + (ready_ ? 1 : 0) + window_.Held();
    window_.Clear([](void* msg) { natsMsg_Destroy(static_cast<natsMsg*>(msg)); });
    natsMsg_Destroy(ready_);
    ready_ = nullptr;
    stagedAt_ = stagedCount_;
    if (js_)
        jsCtx_Destroy(js_);
    js_ = nullptr;
    return left;
}

PublisherCounters Publisher::Totals() const
{
    PublisherCounters c;
    c.published = published_;
    c.acknowledged = acknowledged_;
    c.duplicates = duplicates_;
    c.retried = retried_;
    c.failedAcks = failedAcks_;
    c.unbuilt = unbuilt_;
    c.refused = refused_;
    return c;
}

PublisherCounters Publisher::Counters() const
{
    PublisherCounters c = Totals();
    std::lock_guard<std::mutex> lk(mu_);
    c.inFlight = window_.InFlight();
    c.held = window_.Held();
    return c;
}

} // namespace mdrelay
