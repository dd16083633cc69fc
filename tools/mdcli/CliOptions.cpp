#include "CliOptions.h"

#include "LinksSetting.h"
#include "MarketBoard.h"
#include "NumberText.h"

#include <sstream>

namespace mdcli {

namespace {

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

bool Apply(const std::string& name, const std::string& value, CliOptions& o, std::string& error)
{
    if (name == "front") {
        if (!ValidFront(value)) {
            error = "bad front address '" + value + "' (want tcp://HOST:PORT)";
            return false;
        }
        o.fronts.push_back(value);
    } else if (name == "user") {
        o.user = value;
    } else if (name == "password") {
        o.password = value;
        o.password_given = true;
    } else if (name == "password-file") {
        o.password_file = value;
    } else if (name == "broker") {
        o.broker = value;
    } else if (name == "instruments") {
        o.instruments = SplitList(value);
    } else if (name == "forquote") {
        o.forquote = SplitList(value);
    } else if (name == "csv") {
        o.csv = value;
    } else if (name == "links") {
        // Read as MDLINK_LINKS is; here more than the most is a mistake too.
        const mdlink::LinksReading r = mdlink::ReadLinks(value.c_str());
        if (r.what != mdlink::LinksReading::What::Links) {
            error = "bad value '" + value + "' for --links (1 to 8)";
            return false;
        }
        o.links = r.links;
    } else if (name == "duration") {
        if (!mdtools::ParseDouble(value, o.duration_seconds) || o.duration_seconds < 0) {
            error = "bad value '" + value + "' for --duration";
            return false;
        }
    } else {
        error = "unknown flag --" + name;
        return false;
    }
    return true;
}

} // namespace

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& out, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name.rfind("--", 0) != 0) {
            error = "unexpected argument '" + name + "'";
            return false;
        }
        name = name.substr(2);
        if (name == "help" || name == "quiet") {
            (name == "help" ? out.help : out.quiet) = true;
            continue;
        }
        std::string value;
        const auto eq = name.find('=');
        if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "--" + name + " needs a value";
            return false;
        }
        if (!Apply(name, value, out, error))
            return false;
    }
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
           "to a CSV file. Exits 0 when depth data arrived, 1 when none did.\n\n"
           "flags:\n"
           "  --front tcp://HOST:PORT  a front to connect to; repeat for failover\n"
           "                           (the library moves on after a heartbeat timeout)\n"
           "  --user NAME              user id of the login\n"
           "  --password TEXT          password of the login (visible to every user of\n"
           "                           the machine in the process list: prefer\n"
           "                           --password-file or " + std::string(PasswordVariable) + ")\n"
           "  --password-file FILE     the password is the first line of FILE\n"
           "  --broker ID              broker id of the login\n"
           "  --instruments a,b,c      instruments to subscribe depth data for\n"
           "  --forquote a,b           instruments to subscribe for-quote notices for\n"
           "  --csv FILE               write every depth record to FILE as CSV (a header,\n"
           "                           then the receive time in microseconds and every\n"
           "                           member); mdfront --replay FILE replays it\n"
           "  --duration SECONDS       stop after this long (default: until Ctrl-C)\n"
           "  --links N                hold N of the fronts at once, one link each, and\n"
           "                           show each record once, from the link that brings\n"
           "                           it first (1 to 8, whatever MDLINK_LINKS says); the\n"
           "                           summary gives each link's counters\n"
           "  --quiet                  no ticker: only events and the summary\n"
           "  --help                   show this text\n"
           "Without --password or --password-file, the password is read from the\n"
           "environment variable " + std::string(PasswordVariable) + " (none: empty).\n"
           "The ticker keeps at most " + std::to_string(mdtools::MarketBoard::DefaultMaxRows) +
           " instruments, in order of arrival; further\n"
           "ids are counted, and the count shown, but their records are not.\n";
}

} // namespace mdcli
