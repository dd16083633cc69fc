// Reads records back from the stream: one JetStream consumer per subject
// filter (the server takes one filter per consumer), each delivering in
// stream order on the client library's thread for that subscription.
// Ordered ephemeral consumers by default; a durable one, which remembers
// where its reader stopped, when a name is given. A durable is pulled in
// batches rather than pushed: the server sends nothing that was not asked
// for, so a reader that stops gives back (nak) what it holds and the next
// reader of that name has it at once, instead of after the ack wait the
// server keeps for records it pushed into a subscription that was going. Used by mdrelay --read
// and by the Python package's BusReader.
#pragma once

#include "BusFormat.h"

#include <nats/nats.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mdrelay {

// Where reading starts, for each filter.
struct ReadStart {
    enum class From { New, All, Time, Last };
    From from = From::New;
    std::int64_t timeNs = 0; // Time: records stored at or after this, ns since the epoch
    std::uint64_t last = 0;  // Last: this many of the newest records
};

struct ConsumerSpec {
    std::string stream = "MD";
    std::vector<std::string> filters;
    ReadStart start;
    std::string durable; // empty: ordered and ephemeral
};

// A record as a reader gets it: what the headers say, where the stream
// keeps it, and the payload (KindSize(info.kind) bytes).
struct BusDelivery {
    BusRecordInfo info;
    std::uint64_t streamSeq = 0;
    const unsigned char* payload = nullptr;
};

class BusConsumer {
public:
    // Called on the client library's threads, one at a time per filter.
    using Sink = std::function<void(const BusDelivery&)>;

    // onEnd, when given, is called once, when every record stored at Start
    // has been delivered (on a client library thread, or in Start).
    explicit BusConsumer(Sink sink, std::function<void()> onEnd = nullptr)
        : sink_(std::move(sink)), onEnd_(std::move(onEnd))
    {}
    ~BusConsumer();
    BusConsumer(const BusConsumer&) = delete;
    BusConsumer& operator=(const BusConsumer&) = delete;

    // False with a message when the stream is missing or a consumer could
    // not be made (a durable bound to another filter, say).
    bool Start(natsConnection* nc, const ConsumerSpec& spec, std::string& error);
    // Returns once no callback runs or can start, and the acknowledgements
    // of a durable consumer have reached the server: what a durable's
    // reader had received and not yet handed on is given back (nak), for
    // the next reader of that name at once.
    void Stop();

    // What Start found worth telling (a start flag that an existing durable
    // does not follow).
    const std::vector<std::string>& Warnings() const { return warnings_; }

    // Every record stored when Start ran has been delivered (or skipped):
    // each filter has reached the last record it matched then.
    bool AtEnd() const;
    std::uint64_t Delivered() const { return delivered_.load(); }
    // Messages of an unknown format or kind, or of the wrong size.
    std::uint64_t Skipped() const { return skipped_.load(); }

private:
    struct Feed {
        BusConsumer* owner = nullptr;
        natsSubscription* sub = nullptr;
        std::uint64_t skip = 0;       // the first records not wanted (Last)
        std::int64_t notBeforeNs = 0; // records stored before are not wanted (Time)
        std::uint64_t endSeq = 0;     // the last record it matched at Start
        std::atomic<bool> atEnd{false};
        bool durable = false;         // acknowledged one by one, given back on Stop
        std::thread puller;           // a durable's: fetches, so nothing comes unasked
        std::int64_t lastFetchNs = 0; // the puller's; read once it has ended
        bool complete = false;        // guarded by the owner's mutex
    };

    static void OnMsg(natsConnection*, natsSubscription*, natsMsg* msg, void* closure);
    static void OnComplete(void* closure);
    // A durable feed's thread: fetches batches and hands them to OnMsg until Stop.
    void Pull(Feed& feed);
    // After the puller has ended: what the server still sent for its last
    // fetch is given back too, then the subscription goes.
    void EndPull(Feed& feed);
    bool Subscribe(Feed& feed, const std::string& filter, const ConsumerSpec& spec, int index,
                   std::string& error);
    // Where the feed's consumer starts, and whether it is at its end already.
    bool Position(Feed& feed, const std::string& filter, const ConsumerSpec& spec, jsConsumerConfig& cfg,
                  std::string& error);
    // Creates the durable consumer; start holds the filter and where it begins.
    bool MakeDurable(const std::string& name, const jsConsumerConfig& start, const std::string& stream,
                     std::string& error);
    // An existing durable goes on from where its last reader stopped: the
    // feed is at its end when that reader had taken every record stored.
    void Resume(Feed& feed, const std::string& name, const jsConsumerInfo& ci, const ConsumerSpec& spec);
    void MarkAtEnd(Feed& feed);

    Sink sink_;
    std::function<void()> onEnd_;
    natsConnection* nc_ = nullptr;
    jsCtx* js_ = nullptr;
    std::vector<std::unique_ptr<Feed>> feeds_;
    std::size_t expected_ = 0; // feeds
    std::atomic<std::size_t> atEndCount_{0};
    std::atomic<bool> started_{false};
    std::atomic<bool> ended_{false};    // onEnd_ called
    std::atomic<bool> stopping_{false}; // durable records go back unshown
    std::vector<std::string> warnings_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<std::uint64_t> skipped_{0};
};

// The sequence to start at so that the last `count` records matching
// filter are read: the start, and how many records from it to skip.
bool StartForLast(jsCtx* js, const std::string& stream, const std::string& filter, std::uint64_t count,
                  std::uint64_t& startSeq, std::uint64_t& skip, std::string& error);

} // namespace mdrelay
