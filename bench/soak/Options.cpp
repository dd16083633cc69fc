#include "Options.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace soak {

namespace {

const char* const FaultNames[] = {"none",  "silent",  "close-mid-body", "garbage",
                                  "announce", "big-body", "trickle",      "refuse-login",
                                  "short-body", "unknown", "kill"};
static_assert(sizeof FaultNames / sizeof FaultNames[0] == static_cast<int>(Fault::Count_),
              "a name for every fault");

[[noreturn]] void Usage(int status)
{
    std::FILE* out = status == 0 ? stdout : stderr;
    std::fprintf(out,
        "usage: soak [flags]\n"
        "  --clients K        clients in this process (64)\n"
        "  --fronts M         simulated fronts (4)\n"
        "  --seconds T        length of the run (60)\n"
        "  --seed S           random seed (default: from the clock; always printed)\n"
        "  --faults LIST      front faults to choose from, comma-separated, or all / none:\n"
        "                     silent, close-mid-body, garbage, announce, big-body, trickle,\n"
        "                     refuse-login, short-body, unknown, kill (default all)\n"
        "  --app LIST         application misbehaviour: throw, block, release, switch, all,\n"
        "                     none (default all)\n"
        "  --flood            many clients on one loop: fronts send as fast as they can,\n"
        "                     no faults and no misbehaviour unless asked; per-client rates\n"
        "  --rate R           depth records per second per instrument (100)\n"
        "  --instruments N    instruments per client (2)\n"
        "  --redundant R      of the K clients, R are redundant: two links each to a pair\n"
        "                     of fronts serving one feed (default K/4; none with --flood)\n"
        "  --warmup W         seconds before the resident-memory baseline (T/4, at most 30)\n"
        "  --workdir DIR      working directory, where the clients' log goes (a fresh one)\n"
        "  --verbose          a line per front run and per check that fails\n");
    std::exit(status);
}

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}

void ParseFaults(const std::string& text, Options& o)
{
    o.faults.clear();
    o.kills = false;
    for (const std::string& name : SplitList(text)) {
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
        if (!known) {
            std::fprintf(stderr, "soak: unknown fault '%s'\n", name.c_str());
            Usage(2);
        }
    }
}

void ParseApp(const std::string& text, AppChaos& a)
{
    a = AppChaos();
    for (const std::string& name : SplitList(text)) {
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
        else if (name != "none") {
            std::fprintf(stderr, "soak: unknown application misbehaviour '%s'\n", name.c_str());
            Usage(2);
        }
    }
}

double Number(const char* flag, const char* text)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || v < 0) {
        std::fprintf(stderr, "soak: %s wants a number, not '%s'\n", flag, text);
        Usage(2);
    }
    return v;
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
    bool faultsGiven = false, appGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h")
            Usage(0);
        if (flag == "--flood") {
            o.flood = true;
            continue;
        }
        if (flag == "--verbose") {
            o.verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "soak: %s wants a value\n", flag.c_str());
            Usage(2);
        }
        const char* value = argv[++i];
        if (flag == "--clients")
            o.clients = static_cast<int>(Number(argv[i - 1], value));
        else if (flag == "--fronts")
            o.fronts = static_cast<int>(Number(argv[i - 1], value));
        else if (flag == "--seconds")
            o.seconds = Number(argv[i - 1], value);
        else if (flag == "--seed") {
            o.seed = std::strtoull(value, nullptr, 10);
            o.seedGiven = true;
        } else if (flag == "--faults") {
            ParseFaults(value, o);
            faultsGiven = true;
        } else if (flag == "--app") {
            ParseApp(value, o.app);
            appGiven = true;
        } else if (flag == "--rate")
            o.rate = Number(argv[i - 1], value);
        else if (flag == "--redundant")
            o.redundant = static_cast<int>(Number(argv[i - 1], value));
        else if (flag == "--instruments")
            o.instruments = static_cast<int>(Number(argv[i - 1], value));
        else if (flag == "--warmup")
            o.warmup = Number(argv[i - 1], value);
        else if (flag == "--workdir")
            o.workdir = value;
        else {
            std::fprintf(stderr, "soak: unknown flag %s\n", flag.c_str());
            Usage(2);
        }
    }
    if (o.flood) {
        if (!faultsGiven)
            ParseFaults("none", o);
        if (!appGiven)
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
        o.seed = static_cast<std::uint64_t>(
            std::chrono::system_clock::now().time_since_epoch().count()) % 1000000000ull;
    if (o.warmup < 0)
        o.warmup = o.seconds / 4 < 30 ? o.seconds / 4 : 30;
    return o;
}

} // namespace soak
