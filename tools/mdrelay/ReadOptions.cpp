#include "ReadOptions.h"

#include "CaptureFlags.h"
#include "NumberText.h"
#include "Quantities.h"
#include "Subjects.h"

#include <chrono>

namespace mdrelay {

namespace {

using namespace mdtools;
using O = ReadOptions;

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// --since, --last and --all each say where to start; only one may.
bool SetStart(O& o, ReadStart::From from)
{
    if (o.start.from != ReadStart::From::New)
        return false;
    o.start.from = from;
    return true;
}

void AddStartFlags(CLI::App& app, O& o)
{
    AddValueFlag(app, "since", "TIME",
                 "start at the records stored from TIME on: "
                 "YYYY-MM-DDTHH:MM:SS[.fff] in local time (Z at the end: UTC), or a "
                 "duration ago such as 10m",
                 [&o](const std::string& v) {
                     return SetStart(o, ReadStart::From::Time) && ParseTime(v, NowNs(), o.start.timeNs);
                 });
    AddValueFlag(app, "last", "N", "start N records back from the end (per instrument)",
                 [&o](const std::string& v) {
                     long long n;
                     if (!SetStart(o, ReadStart::From::Last) || !mdtools::ParseInt(v, n) || n < 0)
                         return false;
                     o.start.last = static_cast<std::uint64_t>(n);
                     return true;
                 });
    AddCheckedSwitch(app, "all", "start at the oldest record stored",
                     [&o] { return SetStart(o, ReadStart::From::All); });
    AddValueFlag(app, "durable", "NAME",
                 "a durable consumer: reading resumes where the last "
                 "reader of that name stopped (one per instrument: NAME_1, NAME_2, ...)",
                 [&o](const std::string& v) {
                     o.durable = v;
                     return ValidStreamName(v);
                 });
    AddSwitch(app, "to-end", "stop once every record stored at start has been read",
              [&o] { o.toEnd = true; });
}

void Define(CLI::App& app, O& o)
{
    PrepareCommandLine(app);
    AddSwitch(app, "help", "show this text", [&o] { o.help = true; });
    AddBusFlags(app, o.bus);
    AddValueFlag(app, "instruments", "a,b,c",
                 "instruments to read (default: every record of "
                 "the stream, for-quote notices included)",
                 [&o](const std::string& v) {
                     o.instruments = SplitList(v);
                     return true;
                 });
    AddValueFlag(app, "forquote", "a,b", "instruments whose for-quote notices to read",
                 [&o](const std::string& v) {
                     o.forquote = SplitList(v);
                     return true;
                 });
    AddStartFlags(app, o);
    AddValueFlag(app, "csv", "FILE",
                 "write every depth record to FILE as mdcli --csv does, "
                 "with the relay's receive time",
                 [&o](const std::string& v) {
                     o.csv = v;
                     return !v.empty();
                 });
    AddCaptureFlags(app, o.capture,
                    "every depth record read, with the relay's receive time, instead of showing it,");
    AddValueFlag(app, "duration", "SECONDS", "stop after this long (default: until Ctrl-C)",
                 [&o](const std::string& v) {
                     return mdtools::ParseDouble(v, o.durationSeconds) && o.durationSeconds >= 0;
                 });
    AddSwitch(app, "quiet", "no ticker: only events and the summary", [&o] { o.quiet = true; });
}

std::string FlagsText()
{
    CLI::App app;
    O unused;
    Define(app, unused);
    return FlagsHelp(app);
}

} // namespace

bool ParseReadOptions(const std::vector<std::string>& args, ReadOptions& out, std::string& error)
{
    std::vector<std::string> rest;
    for (const std::string& a : args)
        if (a != "--read")
            rest.push_back(a);
    CLI::App app;
    Define(app, out);
    if (!ParseCommandLine(app, rest, error))
        return false;
    return out.help || CheckBusOptions(out.bus, error);
}

std::vector<std::string> ReadFilters(const ReadOptions& o)
{
    if (o.instruments.empty() && o.forquote.empty())
        return {AllFilter(o.bus.prefix)};
    std::vector<std::string> filters;
    for (const std::string& id : o.instruments)
        filters.push_back(DepthFilter(o.bus.prefix, id));
    for (const std::string& id : o.forquote)
        filters.push_back(ForQuoteFilter(o.bus.prefix, id));
    return filters;
}

std::string ReadUsage()
{
    return "usage: mdrelay --read --nats URL[,URL...] [flags]\n"
           "Reads the records mdrelay published back from the JetStream stream and shows\n"
           "them as mdcli does (a live ticker, plain lines when stdout is not a terminal)\n"
           "or writes them as CSV. Live by default; --since, --last or --all read what is\n"
           "stored first. Exit codes: 0 records were read, 1 none were, 2 bad command\n"
           "line, 3 no NATS server could be reached, 4 the stream or a consumer could not\n"
           "be used.\n\n" +
        FlagsText();
}

} // namespace mdrelay
