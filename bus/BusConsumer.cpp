#include "BusConsumer.h"

#include "NatsLink.h"

#include <chrono>

namespace mdrelay {

namespace {

constexpr std::chrono::seconds StopWait{10};
// A durable's fetches: records per batch, and how long one waits for any
// (also how soon its thread sees Stop).
constexpr int PullBatch = 100;
constexpr std::int64_t PullWaitMs = 100;
constexpr std::int64_t PullMarginMs = 20;

std::int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
constexpr std::int64_t Second = 1'000'000'000;

std::string JsError(const std::string& what, natsStatus s, jsErrCode code)
{
    std::string text = NatsLink::ErrorText(what.c_str(), s);
    if (code != 0)
        text += " (JetStream error " + std::to_string(static_cast<int>(code)) + ")";
    return text;
}

// How many records matching filter the stream holds from seq on, as a
// consumer made for the question counts them.
bool PendingFrom(jsCtx* js, const std::string& stream, const std::string& filter, std::uint64_t seq,
                 std::uint64_t& pending, std::string& error)
{
    jsConsumerConfig cfg;
    jsConsumerConfig_Init(&cfg);
    cfg.FilterSubject = filter.c_str();
    cfg.DeliverPolicy = js_DeliverByStartSequence;
    cfg.OptStartSeq = seq;
    cfg.AckPolicy = js_AckNone;
    cfg.InactiveThreshold = 30 * Second; // the server removes it should we not
    jsConsumerInfo* ci = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    const natsStatus s = js_AddConsumer(&ci, js, stream.c_str(), &cfg, nullptr, &code);
    if (s != NATS_OK) {
        error = JsError("counting the records of " + filter, s, code);
        return false;
    }
    pending = ci->NumPending;
    js_DeleteConsumer(js, stream.c_str(), ci->Name, nullptr, nullptr);
    jsConsumerInfo_Destroy(ci);
    return true;
}

bool StreamBounds(jsCtx* js, const std::string& stream, std::uint64_t& first, std::uint64_t& last,
                  std::string& error)
{
    jsStreamInfo* si = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    const natsStatus s = js_GetStreamInfo(&si, js, stream.c_str(), nullptr, &code);
    if (s != NATS_OK) {
        error = code == JSStreamNotFoundErr || s == NATS_NOT_FOUND
            ? "there is no stream " + stream
            : JsError("reading the stream " + stream, s, code);
        return false;
    }
    first = si->State.FirstSeq;
    last = si->State.LastSeq;
    jsStreamInfo_Destroy(si);
    return true;
}

// The stream sequence and time of the last record matching filter; zero
// when none does.
bool LastMatch(jsCtx* js, const std::string& stream, const std::string& filter, std::uint64_t& seq,
               std::int64_t& timeNs, std::string& error)
{
    natsMsg* msg = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    const natsStatus s = js_GetLastMsg(&msg, js, stream.c_str(), filter.c_str(), nullptr, &code);
    seq = 0;
    timeNs = 0;
    if (s == NATS_OK) {
        seq = natsMsg_GetSequence(msg);
        timeNs = natsMsg_GetTime(msg);
    }
    natsMsg_Destroy(msg);
    if (s == NATS_OK || s == NATS_NOT_FOUND)
        return true;
    error = JsError("reading the last record of " + filter, s, code);
    return false;
}

} // namespace

bool StartForLast(jsCtx* js, const std::string& stream, const std::string& filter, std::uint64_t count,
                  std::uint64_t& startSeq, std::uint64_t& skip, std::string& error)
{
    std::uint64_t first = 0, last = 0;
    if (!StreamBounds(js, stream, first, last, error))
        return false;
    skip = 0;
    startSeq = last + 1;
    if (count == 0 || last == 0 || last < first)
        return true; // nothing stored: from the next record on
    // Look back over `window` records of the stream; when the filter matches
    // fewer than count of them, look four times as far.
    for (std::uint64_t window = count;; window = window > last / 4 ? last : window * 4) {
        startSeq = last - first + 1 > window ? last - window + 1 : first;
        std::uint64_t pending = 0;
        if (!PendingFrom(js, stream, filter, startSeq, pending, error))
            return false;
        if (pending >= count || startSeq == first) {
            skip = pending > count ? pending - count : 0;
            return true;
        }
    }
}

BusConsumer::~BusConsumer()
{
    Stop();
}

bool BusConsumer::Start(natsConnection* nc, const ConsumerSpec& spec, std::string& error)
{
    nc_ = nc;
    const natsStatus s = natsConnection_JetStream(&js_, nc, nullptr);
    if (s != NATS_OK) {
        error = NatsLink::ErrorText("the JetStream context", s);
        return false;
    }
    std::uint64_t first = 0, last = 0;
    if (!StreamBounds(js_, spec.stream, first, last, error))
        return false;
    // Every feed exists before the first subscribes: callbacks find them all.
    expected_ = spec.filters.size();
    for (std::size_t i = 0; i < spec.filters.size(); ++i) {
        feeds_.push_back(std::make_unique<Feed>());
        feeds_.back()->owner = this;
    }
    for (std::size_t i = 0; i < spec.filters.size(); ++i) {
        Feed& feed = *feeds_[i];
        if (!Subscribe(feed, spec.filters[i], spec, static_cast<int>(i), error)) {
            Stop();
            return false;
        }
    }
    started_ = true;
    if (AtEnd() && onEnd_ && !ended_.exchange(true))
        onEnd_();
    return true;
}

bool BusConsumer::Position(Feed& feed, const std::string& filter, const ConsumerSpec& spec,
                           jsConsumerConfig& cfg, std::string& error)
{
    std::int64_t endTimeNs = 0;
    if (!LastMatch(js_, spec.stream, filter, feed.endSeq, endTimeNs, error))
        return false;
    // At the end from the start when nothing stored is to be read.
    switch (spec.start.from) {
    case ReadStart::From::New:
        cfg.DeliverPolicy = js_DeliverNew;
        MarkAtEnd(feed);
        break;
    case ReadStart::From::All:
        cfg.DeliverPolicy = js_DeliverAll;
        if (feed.endSeq == 0)
            MarkAtEnd(feed);
        break;
    case ReadStart::From::Time:
        // The client library writes the start time's fraction of a second
        // without its leading zeros (.064 s goes out as .64 s): it asks from
        // the whole second, and what is older is skipped here.
        cfg.DeliverPolicy = js_DeliverByStartTime;
        cfg.OptStartTime = spec.start.timeNs - spec.start.timeNs % Second;
        feed.notBeforeNs = spec.start.timeNs;
        if (feed.endSeq == 0 || endTimeNs < spec.start.timeNs)
            MarkAtEnd(feed);
        break;
    case ReadStart::From::Last:
        cfg.DeliverPolicy = js_DeliverByStartSequence;
        if (!StartForLast(js_, spec.stream, filter, spec.start.last, cfg.OptStartSeq, feed.skip, error))
            return false;
        if (feed.endSeq == 0 || cfg.OptStartSeq > feed.endSeq)
            MarkAtEnd(feed);
        break;
    }
    return true;
}

bool BusConsumer::Subscribe(Feed& feed, const std::string& filter, const ConsumerSpec& spec, int index,
                            std::string& error)
{
    jsSubOptions so;
    jsSubOptions_Init(&so);
    so.Stream = spec.stream.c_str();
    const std::string durable = spec.durable.empty() || spec.filters.size() == 1
        ? spec.durable
        : spec.durable + "_" + std::to_string(index + 1);
    jsConsumerInfo* existing = nullptr;
    if (!durable.empty() &&
        js_GetConsumerInfo(&existing, js_, spec.stream.c_str(), durable.c_str(), nullptr, nullptr) != NATS_OK)
        existing = nullptr;
    // Durables made by earlier versions are pushed; they are read as they are.
    bool pushed = false;
    if (existing) {
        pushed = existing->Config && existing->Config->DeliverSubject && *existing->Config->DeliverSubject;
        std::int64_t endTimeNs = 0;
        const bool found = LastMatch(js_, spec.stream, filter, feed.endSeq, endTimeNs, error);
        if (found)
            Resume(feed, durable, *existing, spec);
        jsConsumerInfo_Destroy(existing);
        if (!found)
            return false;
    } else {
        if (!Position(feed, filter, spec, so.Config, error))
            return false;
        if (!durable.empty()) {
            so.Config.FilterSubject = filter.c_str();
            if (!MakeDurable(durable, so.Config, spec.stream, error))
                return false;
        }
    }
    jsErrCode code = static_cast<jsErrCode>(0);
    natsStatus s;
    if (durable.empty()) {
        so.Ordered = true;
    } else {
        feed.durable = true;
        so.ManualAck = true; // acknowledged once shown; given back when not
        so.Consumer = durable.c_str();
        jsConsumerConfig_Init(&so.Config);
    }
    if (feed.durable && !pushed)
        s = js_PullSubscribe(&feed.sub, js_, filter.c_str(), durable.c_str(), nullptr, &so, &code);
    else
        s = js_Subscribe(&feed.sub, js_, filter.c_str(), OnMsg, &feed, nullptr, &so, &code);
    if (s != NATS_OK) {
        feed.sub = nullptr;
        error = JsError("reading " + filter, s, code);
        return false;
    }
    if (feed.durable && !pushed)
        feed.puller = std::thread([this, &feed] { Pull(feed); });
    else
        natsSubscription_SetOnCompleteCB(feed.sub, OnComplete, &feed);
    return true;
}

void BusConsumer::Pull(Feed& feed)
{
    while (!stopping_.load()) {
        natsMsgList list{};
        jsFetchRequest req;
        jsFetchRequest_Init(&req);
        req.Batch = PullBatch;
        req.Expires = PullWaitMs * 1'000'000; // the server sends nothing for it after
        feed.lastFetchNs = SteadyNs();
        const natsStatus s = natsSubscription_FetchRequest(&list, feed.sub, &req);
        for (int i = 0; i < list.Count; ++i) {
            OnMsg(nullptr, feed.sub, list.Msgs[i], &feed); // it destroys the message
            list.Msgs[i] = nullptr;
        }
        natsMsgList_Destroy(&list);
        if (s != NATS_OK && s != NATS_TIMEOUT) {
            // The link is down, say: ask again a little later.
            std::unique_lock<std::mutex> lk(mu_);
            cv_.wait_for(lk, std::chrono::milliseconds(PullWaitMs), [&] { return stopping_.load(); });
        }
    }
}

void BusConsumer::EndPull(Feed& feed)
{
    // The last fetch may have been answered after it returned, until it
    // expired: wait that out, let the server's last messages arrive (a
    // round trip), and give them back; else they would wait the ack wait.
    const std::int64_t expired = feed.lastFetchNs + (PullWaitMs + PullMarginMs) * 1'000'000;
    const std::int64_t now = SteadyNs();
    if (expired > now)
        std::this_thread::sleep_for(std::chrono::nanoseconds(expired - now));
    if (nc_)
        natsConnection_FlushTimeout(nc_, 2000);
    // A pull subscription is read by fetching only: one that does not wait
    // hands over what came (and asks for no more than it can give back).
    natsMsgList list{};
    jsFetchRequest req;
    jsFetchRequest_Init(&req);
    req.Batch = PullBatch;
    req.NoWait = true;
    req.Expires = PullWaitMs * 1'000'000;
    natsSubscription_FetchRequest(&list, feed.sub, &req);
    for (int i = 0; i < list.Count; ++i) {
        OnMsg(nullptr, feed.sub, list.Msgs[i], &feed); // given back: stopping
        list.Msgs[i] = nullptr;
    }
    natsMsgList_Destroy(&list);
    natsSubscription_Unsubscribe(feed.sub); // the durable consumer stays
    natsSubscription_Destroy(feed.sub);
    feed.sub = nullptr;
}

void BusConsumer::Resume(Feed& feed, const std::string& name, const jsConsumerInfo& ci,
                         const ConsumerSpec& spec)
{
    // Taken (acknowledged) up to the last record stored: nothing older to
    // read. Delivered is not enough: a record given back comes again.
    if (ci.AckFloor.Stream >= feed.endSeq)
        MarkAtEnd(feed);
    const char* flag = nullptr;
    switch (spec.start.from) {
    case ReadStart::From::New: break;
    case ReadStart::From::All:
        if (!ci.Config || ci.Config->DeliverPolicy != js_DeliverAll)
            flag = "--all";
        break;
    case ReadStart::From::Time: flag = "--since"; break;
    case ReadStart::From::Last: flag = "--last"; break;
    }
    if (flag)
        warnings_.push_back("durable " + name +
                            " resumes where its last reader stopped (after stream record " +
                            std::to_string(ci.AckFloor.Stream) + "); " + flag + " ignored");
}

bool BusConsumer::MakeDurable(const std::string& name, const jsConsumerConfig& start,
                              const std::string& stream, std::string& error)
{
    jsConsumerInfo* ci = nullptr;
    jsConsumerConfig cfg = start;
    cfg.Durable = name.c_str();
    cfg.AckPolicy = js_AckExplicit;
    jsErrCode code = static_cast<jsErrCode>(0);
    const natsStatus s = js_AddConsumer(&ci, js_, stream.c_str(), &cfg, nullptr, &code);
    jsConsumerInfo_Destroy(ci);
    if (s != NATS_OK) {
        error = JsError("creating the durable consumer " + name, s, code);
        return false;
    }
    return true;
}

void BusConsumer::OnMsg(natsConnection*, natsSubscription*, natsMsg* msg, void* closure)
{
    Feed& feed = *static_cast<Feed*>(closure);
    BusConsumer& self = *feed.owner;
    if (feed.durable && self.stopping_.load()) {
        natsMsg_Nak(msg, nullptr); // for the next reader, now rather than after the ack wait
        natsMsg_Destroy(msg);
        return;
    }
    jsMsgMetaData* meta = nullptr;
    std::uint64_t streamSeq = 0;
    std::int64_t storedNs = 0;
    if (natsMsg_GetMetaData(&meta, msg) == NATS_OK) {
        streamSeq = meta->Sequence.Stream;
        storedNs = meta->Timestamp;
        jsMsgMetaData_Destroy(meta);
    }
    if (feed.skip > 0) {
        --feed.skip;
    } else if (storedNs < feed.notBeforeNs) {
        // stored before the start time
    } else {
        const char* header = nullptr;
        natsMsgHeader_Get(msg, HeaderRecord, &header);
        BusDelivery d;
        d.streamSeq = streamSeq;
        const int size = natsMsg_GetDataLength(msg);
        if (CheckBusRecord(header, static_cast<std::size_t>(size < 0 ? 0 : size), d.info) == BusCheck::Ok) {
            d.payload = reinterpret_cast<const unsigned char*>(natsMsg_GetData(msg));
            self.sink_(d);
            ++self.delivered_;
        } else {
            ++self.skipped_;
        }
    }
    if (feed.durable)
        natsMsg_Ack(msg, nullptr);
    if (streamSeq >= feed.endSeq)
        self.MarkAtEnd(feed);
    natsMsg_Destroy(msg);
}

void BusConsumer::OnComplete(void* closure)
{
    Feed& feed = *static_cast<Feed*>(closure);
    {
        std::lock_guard<std::mutex> lk(feed.owner->mu_);
        feed.complete = true;
    }
    feed.owner->cv_.notify_all();
}

void BusConsumer::Stop()
{
    const bool subscribed = !feeds_.empty();
    {
        std::lock_guard<std::mutex> lk(mu_);
        stopping_ = true;
    }
    cv_.notify_all();
    for (auto& feed : feeds_) {
        if (feed->puller.joinable()) {
            feed->puller.join(); // it has given back what it held
            EndPull(*feed);
        }
        if (!feed->sub)
            continue;
        natsSubscription_Unsubscribe(feed->sub);
        {
            std::unique_lock<std::mutex> lk(mu_);
            cv_.wait_for(lk, StopWait, [&] { return feed->complete; });
        }
        natsSubscription_Destroy(feed->sub);
        feed->sub = nullptr;
    }
    feeds_.clear();
    if (subscribed && nc_)
        natsConnection_FlushTimeout(nc_, 2000); // the last records' acknowledgements
    if (js_)
        jsCtx_Destroy(js_);
    js_ = nullptr;
}

bool BusConsumer::AtEnd() const
{
    return atEndCount_.load() == expected_;
}

void BusConsumer::MarkAtEnd(Feed& feed)
{
    if (!feed.atEnd.exchange(true))
        ++atEndCount_;
    if (started_.load() && AtEnd() && onEnd_ && !ended_.exchange(true))
        onEnd_();
}

} // namespace mdrelay
