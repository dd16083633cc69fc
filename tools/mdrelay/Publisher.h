// The publishing thread, between the record queue and JetStream.
//
//   library thread        publishing thread                 NATS client threads
//   --------------        -----------------                 -------------------
//   RelaySpi --Push--> RecordQueue --Pop--> build message
//                                           PublishWindow says SendNew/Resend
//                                           js_PublishMsgAsync ----> server
//                                                         <---- OnAck: acked or failed
//                                           (wakes on acks, failures, the link's
//                                            state and new records)
//
// Every message carries its record's content-derived id, so the stream
// stores a record once however often it goes out. A failed acknowledgement
// (a timeout, no stream leader, a lost server) keeps the message; the
// PublishWindow decides when it goes again, and keeps the stream's order.
// When the stream elects a new leader, what is in flight is taken back at
// once and sent again (stored once, by its id) rather than left to time out:
// the old leader never answers it.
// While the link is down nothing is published: the queue holds the records
// (dropping the oldest when full). When it goes down, whatever was in
// flight is taken back from the client library and counted as failed; the
// next connection gets a JetStream context of its own, made by the
// publishing thread alone when it sees the link's generation change.
#pragma once

#include "NatsLink.h"
#include "PublishWindow.h"
#include "RecordQueue.h"
#include "StreamSpec.h"
#include "Subjects.h"
#include "Throttle.h"
#include "ToolMetrics.h"

#include <nats/nats.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace mdrelay {

struct PublisherSettings {
    std::string prefix = "md";
    std::string relayName = "mdrelay";
    std::size_t inFlight = 4096;
    std::int64_t ackWaitNs = 5'000'000'000;
    std::int64_t stallNs = 1'000'000'000;
    // Woken by the library's thread for every record, for the lowest
    // latency; else naps while records come (up to 0.2 ms added).
    bool wakePerRecord = false;
    // Checked again after each reconnection: a stream kept in memory is
    // gone after its server restarts, and is made again.
    StreamSpec stream;
    MismatchPolicy mismatch = MismatchPolicy::Fail;
};

struct PublisherCounters {
    std::uint64_t published = 0;    // first sends
    std::uint64_t acknowledged = 0; // stored, or known to be stored already
    std::uint64_t duplicates = 0;   // acknowledged as a duplicate by the server
    std::uint64_t retried = 0;      // sent again after a failed acknowledgement
    std::uint64_t failedAcks = 0;
    std::uint64_t unbuilt = 0; // messages that could not be made (no memory)
    std::uint64_t refused = 0; // given up: the stream or the user's permissions
                               // do not take their subject
    std::size_t inFlight = 0;
    std::size_t held = 0; // in flight, or failed and waiting to go again
};

class Publisher {
public:
    Publisher(RecordQueue& queue, NatsLink& link, const PublisherSettings& settings);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Starts the thread, which makes its JetStream context on the link's
    // connection (acknowledgements come to it).
    void Start();
    // Tell it the link's state (from NatsLink's listener).
    void LinkChanged(bool connected);
    // The subjects the stream takes, as found before Start.
    void SetStreamSubjects(const std::vector<std::string>& subjects);
    // The server refused a publish to subject (the user may not): its
    // records are refused for a minute, then tried again.
    void NotPermitted(const std::string& subject);
    // Once nothing more is pushed: publishes what is left, waiting at most
    // flushNs for the acknowledgements; then stops. Returns the records left
    // unacknowledged (queued or held).
    std::uint64_t Finish(std::int64_t flushNs);

    PublisherCounters Counters() const;
    // The counters without the window's figures (inFlight, held left 0):
    // no lock, for a metrics scrape.
    PublisherCounters Totals() const;
    // From a record's last send to its acknowledgement; relaxed atomics.
    const mdtools::SecondsHistogram& AckLatency() const { return ackLatency_; }

private:
    static void OnAck(jsCtx*, natsMsg* msg, jsPubAck* pa, jsPubAckErr* pae, void* closure);
    // The stream has a new leader: what went to the old one gets no reply.
    static void OnLeaderElected(natsConnection*, natsSubscription*, natsMsg* msg, void* closure);
    // Listens for the stream's leader elections on the connection of js_.
    void WatchLeader(natsConnection* nc);
    void StopWatchingLeader();
    // The stream's leader as the server names it now; empty when unknown.
    std::string AskLeader();
    // Publishing has waited the stall bound: when the stream has another
    // leader than the one last seen, what is in flight went to the old one.
    void ProbeLeader();
    void Run();
    bool Step();
    // Moves records off the queue into staged_.
    void TakeRecords(std::int64_t now);
    // Gives up the context of a connection that failed, and makes one on
    // the link's current connection, if it is up; generation is the link's,
    // read before.
    void Rebind(std::uint64_t generation);
    void TakeBack();
    // After a reconnection: the stream made again if it is gone, its
    // subjects read again.
    void RecheckStream();
    // With mu_ held: why records of subject are not to be sent; null when
    // they are.
    const char* RefusalOf(const char* subject, std::int64_t now);
    // Counts a refused record, printing why once a minute per subject.
    void Refused(const char* subject, const char* why);
    natsMsg* Build(const RelayRecord& r);
    void Send(natsMsg* msg, std::uint64_t seq);
    bool Done() const;
    // With mu_ held: whether an acknowledgement should wake a waiting thread.
    bool WorthWaking() const;

    RecordQueue& queue_;
    NatsLink& link_;
    const PublisherSettings settings_;
    SubjectBuilder subjects_;
    // The publishing thread's own (and Finish's, once it has joined it).
    jsCtx* js_ = nullptr;
    bool jsPublished_ = false; // js_ has had a message
    bool bound_ = false;       // a context was made once
    natsSubscription* leaderSub_ = nullptr;
    std::string leader_; // the stream's, as last seen
    std::int64_t nextLeaderProbeNs_ = 0;
    std::int64_t nextTimeoutNs_ = 0;
    std::int64_t recheckAtNs_ = 0;      // the stream to be checked then; 0: not
    std::uint64_t boundGeneration_ = 0; // the link's when js_ was made
    std::thread thread_;

    mutable std::mutex mu_;
    std::condition_variable cv_;
    PublishWindow window_;
    bool connected_ = false;     // a context on a live connection
    bool leaderElected_ = false; // since the thread last took back what was in flight
    bool takeBack_ = false;      // a subject newly refused
    bool finishing_ = false;
    bool waiting_ = false; // the thread sleeps on cv_
    bool closed_ = false;  // acks no longer touch the window
    std::int64_t deadlineNs_ = 0;
    // What the bus does not take: subjects outside the stream's (all are
    // in when takesAll_), and subjects the user may not publish to, until when.
    std::vector<std::string> streamSubjects_;
    bool takesAll_ = true;
    std::unordered_map<std::string, bool> outside_;
    std::unordered_map<std::string, std::int64_t> notPermittedUntil_;
    Throttle prints_; // errors, once a minute per subject

    // The publishing thread's own: records popped, and one message built
    // and not yet sent.
    static constexpr std::size_t Batch = 64;
    RelayRecord staged_[Batch];
    std::size_t stagedAt_ = 0, stagedCount_ = 0;
    natsMsg* ready_ = nullptr;
    std::uint64_t readySeq_ = 0;
    std::int64_t lastRecordNs_ = 0;

    std::atomic<std::uint64_t> published_{0}, acknowledged_{0}, duplicates_{0}, retried_{0}, failedAcks_{0},
        unbuilt_{0}, refused_{0};
    mdtools::SecondsHistogram ackLatency_{
        {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5}};
};

// The relay sequence number a message carries in its header; 0 when none.
std::uint64_t SequenceOf(natsMsg* msg);

} // namespace mdrelay
