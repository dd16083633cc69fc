#include "CliOptions.h"

#include "CaptureFlags.h"
#include "CommandLine.h"
#include "LinksSetting.h"
#include "MarketBoard.h"
#include "NumberText.h"
#include "ToolMetrics.h"

namespace mdcli {

namespace {

using namespace mdtools;

// A front address: "tcp://", a host, ':' and a port of 1..65535.
bool ValidFront(const std::string& text)
{
    if (text.rfind("tcp://", 0) != 0)
        return false;
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon <= 6)
        return false;
    long long port;
    return mdtools::ParseInt(text.substr(colon + 1), port) && port > 0 && port <= 65535;
}

// The flags, applied to o as they are met.
void Define(CLI::App& app, CliOptions& o)
{
    PrepareCommandLine(app);
    AddValueFlag(app, "front", "tcp://HOST:PORT",
                 "a front to connect to; repeat for failover (the "
                 "library moves on after a heartbeat timeout)",
                 [&o](const std::string& v) {
                     if (!ValidFront(v))
                         throw CLI::ValidationError("bad front address '" + v + "' (want tcp://HOST:PORT)");
                     o.fronts.push_back(v);
                     return true;
                 });
    AddValueFlag(app, "user", "NAME", "user id of the login", [&o](const std::string& v) {
        o.user = v;
        return true;
    });
    AddValueFlag(app, "password", "TEXT",
                 "password of the login (visible to every user of the "
                 "machine in the process list: prefer --password-file or " +
                     std::string(PasswordVariable) + ")",
                 [&o](const std::string& v) {
                     o.password = v;
                     o.password_given = true;
                     return true;
                 });
    AddValueFlag(app, "password-file", "FILE", "the password is the first line of FILE",
                 [&o](const std::string& v) {
                     o.password_file = v;
                     return true;
                 });
    AddValueFlag(app, "broker", "ID", "broker id of the login", [&o](const std::string& v) {
        o.broker = v;
        return true;
    });
    AddValueFlag(app, "instruments", "a,b,c", "instruments to subscribe depth data for",
                 [&o](const std::string& v) {
                     o.instruments = SplitList(v);
                     return true;
                 });
    AddValueFlag(app, "forquote", "a,b", "instruments to subscribe for-quote notices for",
                 [&o](const std::string& v) {
                     o.forquote = SplitList(v);
                     return true;
                 });
    AddValueFlag(app, "csv", "FILE",
                 "write every depth record to FILE as CSV (a header, then the "
                 "receive time in microseconds and every member); mdfront --replay FILE replays it",
                 [&o](const std::string& v) {
                     o.csv = v;
                     return true;
                 });
    AddCaptureFlags(app, o.capture, "every depth record received, with its receive time,");
    AddValueFlag(app, "duration", "SECONDS", "stop after this long (default: until Ctrl-C)",
                 [&o](const std::string& v) {
                     return mdtools::ParseDouble(v, o.duration_seconds) && o.duration_seconds >= 0;
                 });
    AddValueFlag(app, "links", "N",
                 "hold N of the fronts at once, one link each, and show each "
                 "record once, from the link that brings it first (1 to 8, whatever MDLINK_LINKS "
                 "says); the summary gives each link's counters",
                 [&o](const std::string& v) {
                     // Read as MDLINK_LINKS is; here more than the most is a mistake too.
                     const mdlink::LinksReading r = mdlink::ReadLinks(v.c_str());
                     if (r.what != mdlink::LinksReading::What::Links)
                         throw CLI::ValidationError("bad value '" + v + "' for --links (1 to 8)");
                     o.links = r.links;
                     return true;
                 });
    AddValueFlag(app, "metrics", "[HOST]:PORT", MetricsFlagHelp, [&o](const std::string& v) {
        o.metrics = v;
        return ValidMetricsAddress(v);
    });
    AddSwitch(app, "quiet", "no ticker: only events and the summary", [&o] { o.quiet = true; });
    AddSwitch(app, "help", "show this text", [&o] { o.help = true; });
}

std::string FlagsText()
{
    CLI::App app;
    CliOptions unused;
    Define(app, unused);
    return FlagsHelp(app);
}

} // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& out, std::string& error)
{
    CLI::App app;
    Define(app, out);
    if (!ParseCommandLine(app, args, error))
        return false;
    if (!out.help && out.fronts.empty()) {
        error = "no --front given";
        return false;
    }
    return true;
}

std::string CliUsage()
{
    return "usage: mdcli --front tcp://HOST:PORT [flags]\n"
           "Connects to a market-data front, logs in, subscribes, and shows depth data\n"
           "as a live ticker (plain lines when stdout is not a terminal) or writes it\n"
           "to a CSV file. Exits 0 when depth data arrived, 1 when none did.\n\n" +
        FlagsText() +
        "Without --password or --password-file, the password is read from the\n"
        "environment variable " +
        std::string(PasswordVariable) +
        " (none: empty).\n"
        "The ticker keeps at most " +
        std::to_string(mdtools::MarketBoard::DefaultMaxRows) +
        " instruments, in order of arrival; further\n"
        "ids are counted, and the count shown, but their records are not.\n";
}

} // namespace mdcli
