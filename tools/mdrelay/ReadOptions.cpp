#include "ReadOptions.h"

#include "NumberText.h"
#include "Quantities.h"
#include "Subjects.h"

#include <chrono>

namespace mdrelay {

namespace {

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

void AddStartFlags(std::vector<Flag<O>>& t)
{
    t.push_back({"since", "TIME", "start at the records stored from TIME on: "
                 "YYYY-MM-DDTHH:MM:SS[.fff] in local time (Z at the end: UTC), or a "
                 "duration ago such as 10m",
                 [](const std::string& v, O& o) {
                     return SetStart(o, ReadStart::From::Time) &&
                            ParseTime(v, NowNs(), o.start.timeNs);
                 }});
    t.push_back({"last", "N", "start N records back from the end (per instrument)",
                 [](const std::string& v, O& o) {
                     long long n;
                     if (!SetStart(o, ReadStart::From::Last) || !mdtools::ParseInt(v, n) || n < 0)
                         return false;
                     o.start.last = static_cast<std::uint64_t>(n);
                     return true;
                 }});
    t.push_back({"all", nullptr, "start at the oldest record stored",
                 [](const std::string&, O& o) { return SetStart(o, ReadStart::From::All); }});
    t.push_back({"durable", "NAME", "a durable consumer: reading resumes where the last reader "
                 "of that name stopped (one per instrument: NAME_1, NAME_2, ...)",
                 [](const std::string& v, O& o) {
                     o.durable = v;
                     return ValidStreamName(v);
                 }});
    t.push_back({"to-end", nullptr, "stop once every record stored at start has been read",
                 [](const std::string&, O& o) { return o.toEnd = true; }});
}

const std::vector<Flag<O>>& Table()
{
    static const std::vector<Flag<O>> table = [] {
        std::vector<Flag<O>> t;
        t.push_back({"help", nullptr, "show this text",
                     [](const std::string&, O& o) { return o.help = true; }});
        AddBusFlags(t);
        t.push_back({"instruments", "a,b,c", "instruments to read (default: every record of "
                     "the stream, for-quote notices included)",
                     [](const std::string& v, O& o) { o.instruments = SplitList(v); return true; }});
        t.push_back({"forquote", "a,b", "instruments whose for-quote notices to read",
                     [](const std::string& v, O& o) { o.forquote = SplitList(v); return true; }});
        AddStartFlags(t);
        t.push_back({"csv", "FILE", "write every depth record to FILE as mdcli --csv does, "
                     "with the relay's receive time",
                     [](const std::string& v, O& o) { o.csv = v; return !v.empty(); }});
        t.push_back({"duration", "SECONDS", "stop after this long (default: until Ctrl-C)",
                     [](const std::string& v, O& o) {
                         return mdtools::ParseDouble(v, o.durationSeconds) && o.durationSeconds >= 0;
                     }});
        t.push_back({"quiet", nullptr, "no ticker: only events and the summary",
                     [](const std::string&, O& o) { return o.quiet = true; }});
        return t;
    }();
    return table;
}

} // namespace

bool ParseReadOptions(const std::vector<std::string>& args, ReadOptions& out, std::string& error)
{
    std::vector<std::string> rest;
    for (const std::string& a : args)
        if (a != "--read")
            rest.push_back(a);
    if (!ParseFlags(Table(), rest, out, error))
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
           "be used.\n\nflags:\n" +
           FlagHelp(Table());
}

} // namespace mdrelay
