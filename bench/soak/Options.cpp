#include "Options.h"

#include "CommandLine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace soak {

namespace {

const char* const FaultNames[] = {"none",     "silent",  "close-mid-body", "garbage",    "announce",
                                  "big-body", "trickle", "refuse-login",   "short-body", "unknown",
                                  "kill"};
static_assert(sizeof FaultNames / sizeof FaultNames[0] == static_cast<int>(Fault::Count_),
              "a name for every fault");

void ParseFaults(const std::string& text, Options& o)
{
    o.faults.clear();
    o.kills = false;
    for (const std::string& name : mdtools::SplitList(text)) {
        if (name == "none")
            continue;
        if (name == "all") {
            for (int f = static_cast<int>(Fault::Silent); f < static_cast<int>(Fault::Kill); ++f)
                o.faults.push_back(static_cast<Fault>(f));
            o.kills = true;
            continue;
        }
        bool known = false;
        for (int f = static_cast<int>(Fault::Silent); f < static_cast<int>(Fault::Count_); ++f) {
            if (name != FaultNames[f])
                continue;
            known = true;
            if (static_cast<Fault>(f) == Fault::Kill)
                o.kills = true;
            else
                o.faults.push_back(static_cast<Fault>(f));
        }
        if (!known)
            throw CLI::ValidationError("unknown fault '" + name + "'");
    }
}

void ParseApp(const std::string& text, AppChaos& a)
{
    a = AppChaos();
    for (const std::string& name : mdtools::SplitList(text)) {
        if (name == "all")
            a.throws = a.blocks = a.releases = a.switches = true;
        else if (name == "throw")
            a.throws = true;
        else if (name == "block")
            a.blocks = true;
        else if (name == "release")
            a.releases = true;
        else if (name == "switch")
            a.switches = true;
        else if (name != "none")
            throw CLI::ValidationError("unknown application misbehaviour '" + name + "'");
    }
}

double Number(const std::string& flag, const std::string& text)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || v < 0)
        throw CLI::ValidationError(flag + " wants a number, not '" + text + "'");
    return v;
}

// A flag whose value is a non-negative number, stored as T.
template <class T>
void AddNumber(CLI::App& app, const std::string& name, const std::string& value, const std::string& help,
               T& into)
{
    mdtools::AddValueFlag(app, name, value, help, [&into, name](const std::string& v) {
        into = static_cast<T>(Number("--" + name, v));
        return true;
    });
}

struct Given {
    bool faults = false;
    bool app = false;
    bool help = false;
};

void Define(CLI::App& app, Options& o, Given& given)
{
    using mdtools::AddSwitch;
    using mdtools::AddValueFlag;
    mdtools::PrepareCommandLine(app);
    app.add_flag_callback(
        "-h,--help", [&given] { given.help = true; }, "show this text");
    AddNumber(app, "clients", "K", "clients in this process (64)", o.clients);
    AddNumber(app, "fronts", "M", "simulated fronts (4)", o.fronts);
    AddNumber(app, "seconds", "T", "length of the run (60)", o.seconds);
    AddValueFlag(app, "seed", "S", "random seed (default: from the clock; always printed)",
                 [&o](const std::string& v) {
                     o.seed = std::strtoull(v.c_str(), nullptr, 10);
                     o.seedGiven = true;
                     return true;
                 });
    AddValueFlag(app, "faults", "LIST",
                 "front faults to choose from, comma-separated, or all / "
                 "none: silent, close-mid-body, garbage, announce, big-body, trickle, "
                 "refuse-login, short-body, unknown, kill (default all)",
                 [&o, &given](const std::string& v) {
                     ParseFaults(v, o);
                     given.faults = true;
                     return true;
                 });
    AddValueFlag(app, "app", "LIST",
                 "application misbehaviour: throw, block, release, switch, "
                 "all, none (default all)",
                 [&o, &given](const std::string& v) {
                     ParseApp(v, o.app);
                     given.app = true;
                     return true;
                 });
    AddSwitch(app, "flood",
              "many clients on one loop: fronts send as fast as they can, no "
              "faults and no misbehaviour unless asked; per-client rates",
              [&o] { o.flood = true; });
    AddNumber(app, "rate", "R", "depth records per second per instrument (100)", o.rate);
    AddNumber(app, "instruments", "N", "instruments per client (2)", o.instruments);
    AddNumber(app, "redundant", "R",
              "of the K clients, R are redundant: two links each to a "
              "pair of fronts serving one feed (default K/4; none with --flood)",
              o.redundant);
    AddNumber(app, "warmup", "W", "seconds before the resident-memory baseline (T/4, at most 30)", o.warmup);
    AddValueFlag(app, "workdir", "DIR",
                 "working directory, where the clients' log goes (a "
                 "fresh one)",
                 [&o](const std::string& v) {
                     o.workdir = v;
                     return true;
                 });
    AddSwitch(app, "verbose", "a line per front run and per check that fails", [&o] { o.verbose = true; });
}

[[noreturn]] void Usage(int status)
{
    CLI::App app;
    Options unused;
    Given given;
    Define(app, unused, given);
    std::fputs(("usage: soak [flags]\n" + mdtools::FlagsHelp(app)).c_str(), status == 0 ? stdout : stderr);
    std::exit(status);
}

} // namespace

const char* FaultName(Fault f)
{
    return FaultNames[static_cast<int>(f)];
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    ParseFaults("all", o);
    ParseApp("all", o.app);
    Given given;
    CLI::App app;
    Define(app, o, given);
    std::string error;
    if (!mdtools::ParseCommandLine(app, std::vector<std::string>(argv + 1, argv + argc), error)) {
        std::fprintf(stderr, "soak: %s\n", error.c_str());
        Usage(2);
    }
    if (given.help)
        Usage(0);
    if (o.flood) {
        if (!given.faults)
            ParseFaults("none", o);
        if (!given.app)
            ParseApp("none", o.app);
        o.rate = 0;
    }
    if (o.clients < 1 || o.fronts < 1 || o.instruments < 1) {
        std::fprintf(stderr, "soak: at least one client, one front and one instrument\n");
        Usage(2);
    }
    if (o.redundant < 0)
        o.redundant = o.flood ? 0 : o.clients / 4;
    if (o.redundant > o.clients)
        o.redundant = o.clients;
    if (!o.seedGiven)
        o.seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) %
            1000000000ull;
    if (o.warmup < 0)
        o.warmup = o.seconds / 4 < 30 ? o.seconds / 4 : 30;
    return o;
}

} // namespace soak
