#include "RelayOptions.h"

#include "CaptureFlags.h"
#include "NumberText.h"
#include "Quantities.h"
#include "ToolMetrics.h"

#include <fstream>

namespace mdrelay {

namespace {

using namespace mdtools;
using O = RelayOptions;

bool Count(const std::string& v, std::size_t& out, std::size_t max)
{
    long long n;
    if (!mdtools::ParseInt(v, n) || n < 1 || static_cast<unsigned long long>(n) > max)
        return false;
    out = static_cast<std::size_t>(n);
    return true;
}

bool Positive(const std::string& v, std::int64_t& ns)
{
    return ParseDuration(v, ns) && ns > 0;
}

void AddFrontFlags(CLI::App& app, O& o)
{
    AddValueFlag(app, "front", "tcp://HOST:PORT", "a front to connect to; repeat for failover",
                 [&o](const std::string& v) {
                     o.fronts.push_back(v);
                     return v.rfind("tcp://", 0) == 0 && v.rfind(':') > 6;
                 });
    AddValueFlag(app, "links", "N",
                 "hold N of the fronts at once, one link each, and publish each "
                 "record once, from the link that brings it first (1 to 8; default: one link, "
                 "or what MDLINK_LINKS says); the links' counters are printed at exit",
                 [&o](const std::string& v) {
                     std::size_t n;
                     if (!Count(v, n, 8))
                         return false;
                     o.links = static_cast<int>(n);
                     return true;
                 });
    AddValueFlag(app, "broker", "ID", "broker id of the login", [&o](const std::string& v) {
        o.broker = v;
        return true;
    });
    AddValueFlag(app, "user", "NAME", "user id of the login", [&o](const std::string& v) {
        o.user = v;
        return true;
    });
    AddValueFlag(app, "password-file", "FILE",
                 "file whose first line is the login's password "
                 "(else MDRELAY_FRONT_PASSWORD, when set)",
                 [&o](const std::string& v) {
                     o.passwordFile = v;
                     return !v.empty();
                 });
    AddValueFlag(app, "instruments", "a,b,c", "instruments whose depth data to publish",
                 [&o](const std::string& v) {
                     for (const std::string& s : SplitList(v))
                         o.instruments.push_back(s);
                     return true;
                 });
    AddValueFlag(app, "instruments-file", "FILE",
                 "more instruments: ids separated by commas, "
                 "spaces or lines; '#' starts a comment",
                 [&o](const std::string& v) {
                     o.instrumentsFile = v;
                     return !v.empty();
                 });
    AddValueFlag(app, "forquote", "a,b", "instruments whose for-quote notices to publish",
                 [&o](const std::string& v) {
                     o.forquote = SplitList(v);
                     return true;
                 });
}

bool ParseStorage(const std::string& v, O& o)
{
    if (v != "file" && v != "memory")
        return false;
    o.stream.storage = v == "file" ? Storage::File : Storage::Memory;
    return true;
}

bool ParseMismatch(const std::string& v, O& o)
{
    if (v == "fail")
        o.mismatch = MismatchPolicy::Fail;
    else if (v == "use")
        o.mismatch = MismatchPolicy::Use;
    else if (v == "update")
        o.mismatch = MismatchPolicy::Update;
    else
        return false;
    return true;
}

void AddStreamFlags(CLI::App& app, O& o)
{
    AddValueFlag(app, "storage", "file|memory", "where the stream keeps records (default file)",
                 [&o](const std::string& v) { return ParseStorage(v, o); });
    AddValueFlag(app, "max-age", "DURATION",
                 "records older than this are removed; 0: kept "
                 "(default 24h)",
                 [&o](const std::string& v) { return ParseDuration(v, o.stream.maxAgeNs); });
    AddValueFlag(app, "max-bytes", "SIZE",
                 "the stream's size limit, oldest records removed first; "
                 "0: none (default 0)",
                 [&o](const std::string& v) { return ParseSize(v, o.stream.maxBytes); });
    AddValueFlag(app, "replicas", "N", "copies of the stream in a cluster, 1 to 5 (default 1)",
                 [&o](const std::string& v) {
                     std::size_t n;
                     if (!Count(v, n, 5))
                         return false;
                     o.stream.replicas = static_cast<int>(n);
                     return true;
                 });
    AddValueFlag(app, "duplicate-window", "DURATION",
                 "a record published again within this long "
                 "is stored once (default 2m)",
                 [&o](const std::string& v) { return Positive(v, o.stream.duplicateWindowNs); });
    AddValueFlag(app, "stream-mismatch", "fail|use|update",
                 "when the stream exists and differs "
                 "from these flags: exit, publish into it as it is, or change it (default fail; "
                 "the differences are printed in every case)",
                 [&o](const std::string& v) { return ParseMismatch(v, o); });
}

void AddRelayFlags(CLI::App& app, O& o)
{
    AddValueFlag(app, "queue", "N",
                 "records held while the bus cannot take them; when full the "
                 "oldest is dropped and counted (default 65536, about 28 MB)",
                 [&o](const std::string& v) { return Count(v, o.queueRecords, 1u << 24); });
    AddValueFlag(app, "in-flight", "N",
                 "records published and not yet acknowledged, at most "
                 "(default 4096)",
                 [&o](const std::string& v) { return Count(v, o.inFlight, 1u << 20); });
    AddValueFlag(app, "ack-wait", "DURATION",
                 "an acknowledgement not back by then counts as "
                 "failed and the record is sent again (default 5s)",
                 [&o](const std::string& v) { return Positive(v, o.ackWaitNs); });
    AddValueFlag(app, "stall", "DURATION",
                 "no new record goes out while an older one has waited "
                 "this long for its acknowledgement (default 1s)",
                 [&o](const std::string& v) { return Positive(v, o.stallNs); });
    AddSwitch(app, "low-latency",
              "write each record to the bus as it is published, "
              "the publishing thread woken for each (about 0.1 ms added from front to "
              "consumer instead of about 1 ms; more CPU per record, a lower top rate)",
              [&o] { o.bus.sendAtOnce = true; });
    AddValueFlag(app, "flush", "DURATION",
                 "at exit, how long to wait for what is in flight "
                 "(default 10s)",
                 [&o](const std::string& v) { return ParseDuration(v, o.flushNs); });
    AddValueFlag(app, "status-interval", "DURATION",
                 "how often the counters are printed "
                 "(default 1m)",
                 [&o](const std::string& v) { return Positive(v, o.statusNs); });
    AddValueFlag(app, "duration", "SECONDS", "stop after this long (default: until SIGINT/SIGTERM)",
                 [&o](const std::string& v) {
                     return mdtools::ParseDouble(v, o.durationSeconds) && o.durationSeconds >= 0;
                 });
    AddValueFlag(app, "metrics", "[HOST]:PORT", mdtools::MetricsFlagHelp, [&o](const std::string& v) {
        o.metrics = v;
        return mdtools::ValidMetricsAddress(v);
    });
}

void Define(CLI::App& app, O& o)
{
    PrepareCommandLine(app);
    AddSwitch(app, "help", "show this text", [&o] { o.help = true; });
    AddFrontFlags(app, o);
    AddBusFlags(app, o.bus);
    AddStreamFlags(app, o);
    AddRelayFlags(app, o);
    AddCaptureFlags(app, o.capture, "every depth record received from the fronts, with its receive time,");
}

bool Check(O& o, std::string& error)
{
    if (o.fronts.empty()) {
        error = "no --front given";
        return false;
    }
    if (!CheckBusOptions(o.bus, error))
        return false;
    o.stream.name = o.bus.stream;
    if (o.stream.subjects.empty())
        o.stream.subjects = {o.bus.prefix + ".>"};
    if (o.stream.maxAgeNs > 0 && o.stream.duplicateWindowNs > o.stream.maxAgeNs) {
        error = "--duplicate-window is longer than --max-age";
        return false;
    }
    return true;
}

std::string FlagsText()
{
    CLI::App app;
    O unused;
    Define(app, unused);
    return FlagsHelp(app);
}

} // namespace

bool ParseRelayOptions(const std::vector<std::string>& args, RelayOptions& out, std::string& error)
{
    std::vector<std::string> rest;
    for (const std::string& a : args)
        if (a != "--publish")
            rest.push_back(a);
    CLI::App app;
    Define(app, out);
    if (!ParseCommandLine(app, rest, error))
        return false;
    return out.help || Check(out, error);
}

bool LoadInstrumentsFile(RelayOptions& o, std::string& error)
{
    if (o.instrumentsFile.empty())
        return true;
    std::ifstream in(o.instrumentsFile);
    if (!in) {
        error = "cannot read " + o.instrumentsFile;
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        for (char& c : line)
            if (c == ' ' || c == '\t' || c == '\r')
                c = ',';
        for (const std::string& id : SplitList(line))
            o.instruments.push_back(id);
    }
    return true;
}

std::string RelayUsage()
{
    return "usage: mdrelay --front tcp://HOST:PORT --nats URL[,URL...] --instruments a,b [flags]\n"
           "       mdrelay --read --nats URL[,URL...] [flags]   (mdrelay --read --help)\n"
           "Logs in to the fronts through the market-data library, subscribes, and publishes\n"
           "every depth record to NATS JetStream on <prefix>.<exchange>.<instrument>, and\n"
           "for-quote notices on <prefix>.forquote.<exchange>.<instrument>.\n"
           "Counters are printed every --status-interval and at exit.\n"
           "Exit codes: 0 stopped, everything received published or counted as dropped;\n"
           "1 stopped with records still unacknowledged after --flush; 2 bad command line\n"
           "or unreadable file; 3 no NATS server could be reached or the login was refused;\n"
           "4 the stream could not be created, or differs from the flags (--stream-mismatch).\n"
           "A --metrics port that cannot be served is exit 2 too.\n\n" +
        FlagsText();
}

} // namespace mdrelay
