// The publishing mode: the library's client feeding the record queue, the
// Publisher emptying it into the stream, and the main thread printing
// events and counters until it is told to stop.
#include "CaptureTap.h"
#include "Interrupt.h"
#include "LinkSummary.h"
#include "MdApi.h"
#include "Modes.h"
#include "NewClient.h"
#include "Publisher.h"
#include "RelayMetrics.h"
#include "RelayOptions.h"
#include "RelaySpi.h"
#include "RelayStatus.h"
#include "StreamSetup.h"
#include "Ticker.h"
#include "ToolMetrics.h"

#include <pthread.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace mdrelay {

namespace {

constexpr std::chrono::milliseconds Tick{100};
constexpr std::int64_t CloseWaitMs = 5000;

// Threads inherit their creator's name: naming the main thread around the
// calls that start other libraries' threads names those threads, so that
// `top -H` tells them apart (the publishing thread names itself).
void ThreadName(const char* name)
{
    pthread_setname_np(pthread_self(), name);
}

int Fail(int code, const std::string& message)
{
    std::fprintf(stderr, "mdrelay: %s\n", message.c_str());
    return code;
}

bool PrepareStream(NatsLink& link, const RelayOptions& o, Publisher& publisher, std::string& error)
{
    jsCtx* js = nullptr;
    if (natsConnection_JetStream(&js, link.Connection(), nullptr) != NATS_OK) {
        error = "no JetStream context";
        return false;
    }
    const StreamReport r = EnsureStream(js, o.stream, o.mismatch);
    jsCtx_Destroy(js);
    for (const std::string& d : r.differences)
        std::fprintf(stderr, "mdrelay: stream %s differs: %s\n", o.stream.name.c_str(), d.c_str());
    if (r.outcome != StreamOutcome::Failed && r.outcome != StreamOutcome::Differs) {
        publisher.SetStreamSubjects(r.subjects);
        if (!TakesPrefix(r.subjects, o.bus.prefix))
            std::fprintf(stderr,
                         "mdrelay: stream %s does not take every subject under %s: records it "
                         "does not take are refused\n",
                         o.stream.name.c_str(), o.bus.prefix.c_str());
    }
    switch (r.outcome) {
    case StreamOutcome::Created:
        std::printf("mdrelay: created stream %s\n", o.stream.name.c_str());
        return true;
    case StreamOutcome::Matches:
    case StreamOutcome::Used: return true;
    case StreamOutcome::Updated:
        std::printf("mdrelay: updated stream %s to the flags\n", o.stream.name.c_str());
        return true;
    case StreamOutcome::Differs:
        error = "stream " + o.stream.name +
            " exists with another configuration (see above; --stream-mismatch use|update)";
        return false;
    case StreamOutcome::Failed: break;
    }
    error = r.error;
    return false;
}

// The front session as mdcli runs it, its password settled as mdcli settles
// one: from the file, else from the environment.
bool Session(const RelayOptions& o, mdtools::SessionOptions& s, std::string& error)
{
    s.fronts = o.fronts;
    s.broker = o.broker;
    s.user = o.user;
    s.password_file = o.passwordFile;
    s.instruments = o.instruments;
    s.forquote = o.forquote;
    s.links = o.links;
    return mdtools::ResolvePassword(s, std::getenv(FrontPasswordVariable), error);
}

RelayStatus Status(const RecordQueue& queue, const Publisher& publisher, const NatsLink& link)
{
    RelayStatus s;
    s.received = queue.Received();
    s.dropped = queue.Dropped();
    s.queued = queue.Size();
    s.reconnections = link.Reconnections();
    s.publisher = publisher.Counters();
    return s;
}

void PrintEvents(mdtools::MarketBoard& events)
{
    const std::string text = mdtools::Ticker::Lines(events.TakeEvents(), {});
    if (!text.empty()) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
}

// The relay's page with the library's: null when not asked for, or when it
// cannot serve (said on stderr).
std::unique_ptr<mdtools::ToolMetrics> StartMetrics(const RelayOptions& o, unsigned short libraryPort,
                                                   const RecordQueue& queue, const Publisher& publisher,
                                                   const NatsLink& link, mdlink::CRedundantMdApi* redundant)
{
    if (o.metrics.empty())
        return nullptr;
    return mdtools::ToolMetrics::Serve(
        "mdrelay", o.metrics,
        [&queue, &publisher, &link, redundant](mdlink::metrics::ExpositionWriter& out) {
            WriteRelayFigures(out, queue, publisher, link);
            if (redundant) {
                mdlink::RedundantLinkCounters links[mdlink::RedundantMaxLinks];
                const int n = redundant->GetLinkCounters(links, mdlink::RedundantMaxLinks);
                mdtools::WriteLinks(out, "mdrelay", links, n);
            }
        },
        libraryPort);
}

// Runs the library's client until interrupted or the duration is over;
// false when the metrics page asked for cannot be served.
bool Relay(const RelayOptions& o, const mdtools::SessionOptions& session, RecordQueue& queue,
           Publisher& publisher, NatsLink& link, mdtools::CaptureTap* capture)
{
    // The library's page on a loopback port of ours, turned on before the
    // first client is made: each scrape of ours serves it with our figures.
    const unsigned short libraryPort = o.metrics.empty() ? 0 : mdtools::ServeLibraryPageOnLoopback();
    mdtools::MarketBoard events;
    RelaySpi spi(session, events, queue, capture);
    // The library's loop thread starts here (the links' clients in Init)
    // and takes the name.
    ThreadName("md-library");
    mdlink::CRedundantMdApi* redundant = nullptr;
    CThostFtdcMdApi* api = mdtools::NewClient(o.links, redundant);
    spi.Attach(api);
    api->RegisterSpi(&spi);
    std::vector<std::string> fronts = o.fronts; // the interface takes mutable text
    for (std::string& front : fronts)
        api->RegisterFront(&front[0]);
    std::unique_ptr<mdtools::ToolMetrics> metrics =
        StartMetrics(o, libraryPort, queue, publisher, link, redundant);
    if (!o.metrics.empty() && !metrics) {
        api->Release(); // never started
        return false;
    }
    api->Init();
    ThreadName("mdrelay");
    const auto start = std::chrono::steady_clock::now();
    auto nextStatus = start + std::chrono::nanoseconds(o.statusNs);
    while (!mdtools::Interrupted()) {
        const auto now = std::chrono::steady_clock::now();
        if (o.durationSeconds > 0 && now - start >= std::chrono::duration<double>(o.durationSeconds))
            break;
        if (now >= nextStatus) {
            std::printf("%s\n", StatusLine(Status(queue, publisher, link)).c_str());
            nextStatus += std::chrono::nanoseconds(o.statusNs);
        }
        PrintEvents(events);
        std::this_thread::sleep_for(Tick);
    }
    mdlink::RedundantLinkCounters links[mdlink::RedundantMaxLinks];
    const int linkCount = redundant ? redundant->GetLinkCounters(links, mdlink::RedundantMaxLinks) : 0;
    metrics.reset(); // no scrape reads the clients from here on
    api->Release();  // waits until no callback runs; none follows
    PrintEvents(events);
    for (const std::string& line : mdtools::LinkSummary(links, linkCount))
        std::printf("mdrelay: %s\n", line.c_str());
    if (capture) {
        capture->Close(); // the last block written
        std::printf("mdrelay: %s\n", mdtools::CaptureSummary(o.capture.directory, capture->Counts()).c_str());
    }
    return true;
}

// What the client library calls back into; it outlives the library's threads.
struct Parts {
    explicit Parts(const RelayOptions& o) : queue(o.queueRecords), publisher(queue, link, Settings(o)) {}
    static PublisherSettings Settings(const RelayOptions& o)
    {
        PublisherSettings s;
        s.prefix = o.bus.prefix;
        s.relayName = o.bus.name;
        s.inFlight = o.inFlight;
        s.ackWaitNs = o.ackWaitNs;
        s.stallNs = o.stallNs;
        s.wakePerRecord = o.bus.sendAtOnce;
        s.stream = o.stream;
        s.mismatch = o.mismatch;
        return s;
    }

    NatsLink link;
    RecordQueue queue;
    Publisher publisher;
};

int Run(const RelayOptions& o, const mdtools::SessionOptions& session, Parts& p, mdtools::CaptureTap* capture)
{
    std::string error;
    p.link.SetReconnect(NatsLink::Reconnect::FreshConnection);
    p.link.SetListener([&p](bool connected) { p.publisher.LinkChanged(connected); });
    p.link.SetErrorListener([&p](natsStatus s, const std::string& text) {
        const std::string subject = s == NATS_NOT_PERMITTED ? RefusedSubject(text) : "";
        if (!subject.empty())
            p.publisher.NotPermitted(subject);
    });
    // The NATS client's threads start here and take the name.
    ThreadName("nats-client");
    const bool connected = p.link.Connect(o.bus, error);
    ThreadName("mdrelay");
    if (!connected)
        return Fail(p.link.ConfigFailed() ? ExitUsage : ExitNoBus, error);
    std::printf("mdrelay %s connected to %s\n", o.bus.name.c_str(), p.link.ConnectedUrl().c_str());
    if (!PrepareStream(p.link, o, p.publisher, error))
        return Fail(ExitStream, error);
    p.publisher.Start();
    mdtools::InstallInterruptHandler();
    if (!Relay(o, session, p.queue, p.publisher, p.link, capture))
        return ExitUsage;
    const std::uint64_t left = p.publisher.Finish(o.flushNs);
    std::printf("%s\n", StatusLine(Status(p.queue, p.publisher, p.link)).c_str());
    if (left > 0)
        std::printf("mdrelay: %llu records left unacknowledged\n", static_cast<unsigned long long>(left));
    std::fflush(stdout);
    return left > 0 ? ExitUnflushed : ExitOk;
}

} // namespace

int RunRelay(const std::vector<std::string>& args)
{
    RelayOptions o;
    std::string error;
    mdtools::SessionOptions session;
    if (!ParseRelayOptions(args, o, error))
        return Fail(ExitUsage, error + " (try --help)");
    if (o.help) {
        std::fputs(RelayUsage().c_str(), stdout);
        return ExitOk;
    }
    if (!LoadInstrumentsFile(o, error) || !Session(o, session, error))
        return Fail(ExitUsage, error);
    if (o.instruments.empty() && o.forquote.empty())
        return Fail(ExitUsage, "nothing to subscribe: give --instruments or --forquote");
    std::unique_ptr<mdtools::CaptureTap> capture;
    if (!o.capture.directory.empty()) {
        capture = mdtools::CaptureTap::Open(
            o.capture, std::string("mdrelay ") + CThostFtdcMdApi::GetApiVersion(), o.fronts, error);
        if (!capture)
            return Fail(ExitUsage, error);
    }
    auto parts = std::make_unique<Parts>(o);
    const int code = Run(o, session, *parts, capture.get());
    parts->publisher.Finish(0);
    parts->link.Close();
    // The client library's threads end before the objects they call back.
    nats_CloseAndWait(CloseWaitMs);
    parts.reset();
    return code;
}

} // namespace mdrelay
