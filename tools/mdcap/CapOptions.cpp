#include "CapOptions.h"

#include "CommandLine.h"

#include <cstdio>
#include <ctime>

namespace mdcap {

namespace {

using namespace mdtools;

struct Command {
    const char* name;
    const char* synopsis;
    const char* what;
    bool times, cat, output, oneFile;
};

const Command Commands[] = {
    {"info", "FILE...", "the header, blocks, time range and records per instrument of each file", false,
     false, false, false},
    {"cat", "FILE... [--csv] [--from T] [--to T] [--instruments a,b]",
     "the records as mdcli prints them, or as mdcli --csv writes them", true, true, false, false},
    {"verify", "FILE...", "checks every block: checksum, sizes, order of receive times, truncation", false,
     false, false, false},
    {"cut", "FILE --from T --to T -o OUT", "the records received from T up to T into a new file", true, false,
     true, true},
    {"merge", "FILE... -o OUT",
     "captures of one feed merged by receive time into a new file; a record several of them\n"
     "  hold is kept once, a record the feed repeated as often as it came",
     false, false, true, false},
};

bool Time(const std::string& text, TimeArg& out)
{
    if (!ParseTimeArg(text, out))
        throw CLI::ValidationError("bad time '" + text +
                                   "' (want HH:MM:SS[.fff] or YYYY-MM-DDTHH:MM:SS[.fff][Z])");
    return true;
}

void Define(CLI::App& app, const Command& c, CapOptions& o)
{
    PrepareCommandLine(app);
    app.add_option("files", o.files, "capture files")->type_name("FILE");
    if (c.cat) {
        AddSwitch(app, "csv", "write CSV as mdcli --csv does (mdfront --replay reads it)",
                  [&o] { o.csv = true; });
        AddValueFlag(app, "instruments", "a,b", "only records of these instruments",
                     [&o](const std::string& v) {
                         o.instruments = SplitList(v);
                         return !o.instruments.empty();
                     });
    }
    if (c.times) {
        AddValueFlag(app, "from", "T", "records received at T or later",
                     [&o](const std::string& v) { return Time(v, o.from); });
        AddValueFlag(app, "to", "T", "records received before T",
                     [&o](const std::string& v) { return Time(v, o.to); });
    }
    if (c.output)
        app.add_option("-o,--output", o.output, "the file to write (never over an existing one)")
            ->type_name("OUT");
    AddSwitch(app, "help", "show this text", [&o] { o.help = true; });
}

bool Digits(const std::string& text, std::size_t at, std::size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

bool ParseTimeArg(const std::string& text, TimeArg& out)
{
    TimeArg t;
    t.given = true;
    std::size_t at = 0;
    if (text.size() >= 11 && text[4] == '-') {
        if (!Digits(text, 0, 4, t.year) || !Digits(text, 5, 2, t.month) || text[7] != '-' ||
            !Digits(text, 8, 2, t.day) || (text[10] != 'T' && text[10] != ' '))
            return false;
        at = 11;
    } else {
        t.ofDay = true;
    }
    if (!Digits(text, at, 2, t.hour) || text.size() < at + 8 || text[at + 2] != ':' ||
        !Digits(text, at + 3, 2, t.minute) || text[at + 5] != ':' || !Digits(text, at + 6, 2, t.second))
        return false;
    at += 8;
    if (at < text.size() && text[at] == '.') {
        std::int64_t scale = 100000000;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10) {
            if (scale == 0)
                return false;
            t.nanos += (text[at] - '0') * scale;
        }
    }
    if (at < text.size() && text[at] == 'Z' && !t.ofDay) {
        t.utc = true;
        ++at;
    }
    if (at != text.size() || t.hour > 23 || t.minute > 59 || t.second > 60 || t.month > 12 || t.day > 31)
        return false;
    out = t;
    return true;
}

bool ResolveTime(const TimeArg& time, const std::string& tradingDay, std::int64_t& ns)
{
    std::tm tm{};
    if (time.ofDay) {
        int y = 0, m = 0, d = 0;
        if (tradingDay.size() != 8 || !Digits(tradingDay, 0, 4, y) || !Digits(tradingDay, 4, 2, m) ||
            !Digits(tradingDay, 6, 2, d))
            return false;
        tm.tm_year = y - 1900;
        tm.tm_mon = m - 1;
        tm.tm_mday = d;
    } else {
        tm.tm_year = time.year - 1900;
        tm.tm_mon = time.month - 1;
        tm.tm_mday = time.day;
    }
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_isdst = -1;
    const std::time_t seconds = time.utc ? timegm(&tm) : mktime(&tm);
    ns = static_cast<std::int64_t>(seconds) * 1000000000 + time.nanos;
    return true;
}

bool ParseCapOptions(const std::vector<std::string>& args, CapOptions& out, std::string& error)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        out.help = true;
        return true;
    }
    for (const Command& c : Commands) {
        if (args[0] != c.name)
            continue;
        out.command = c.name;
        CLI::App app;
        Define(app, c, out);
        if (!ParseCommandLine(app, std::vector<std::string>(args.begin() + 1, args.end()), error))
            return false;
        if (out.help)
            return true;
        if (out.files.empty() || (c.oneFile && out.files.size() != 1))
            error = c.oneFile ? "give one FILE" : "give at least one FILE";
        else if (c.output && out.output.empty())
            error = "no -o OUT given";
        else if (c.oneFile && (!out.from.given || !out.to.given))
            error = "give --from and --to";
        return error.empty();
    }
    error = "unknown command '" + args[0] + "'";
    return false;
}

std::string CapUsage()
{
    std::string text = "usage: mdcap COMMAND FILE... [flags]\n"
                       "Reads capture files (docs/capture-format.md). Commands:\n";
    for (const Command& c : Commands) {
        CLI::App app;
        CapOptions unused;
        Define(app, c, unused);
        text += std::string("\nmdcap ") + c.name + " " + c.synopsis + "\n  " + c.what + "\n" + FlagsHelp(app);
    }
    return text +
        "\nT is HH:MM:SS[.fff] on the file's trading day, or YYYY-MM-DDTHH:MM:SS[.fff], local time\n"
        "(UTC with a final Z). Exits 1 on any fault, naming the file and offset.\n";
}

} // namespace mdcap
