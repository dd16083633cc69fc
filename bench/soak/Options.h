// The soak's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// What the fronts do wrong, one kind per front run.
enum class Fault {
    None,
    Silent, // goes quiet, keeps the link open
    CloseMidBody,
    Garbage,  // random bytes after the login response
    Announce, // a header announcing a huge body, part of it, then quiet
    BigBody,  // first depth body padded far past a record
    Trickle,  // one byte per send
    RefuseLogin,
    ShortBody, // depth bodies cut short
    Unknown,   // frames of unknown types after login
    Kill,      // the front stopped and started again (not chosen per run)
    Count_
};

const char* FaultName(Fault f);

// What the application does wrong.
struct AppChaos {
    bool throws = false;   // callbacks that throw
    bool blocks = false;   // callbacks that block up to 100 ms
    bool releases = false; // Release and re-create, from another thread and from callbacks
    bool switches = false; // RegisterSpi switched while records flood in
};

struct Options {
    int clients = 64;
    int fronts = 4;
    double seconds = 60;
    std::uint64_t seed = 0;
    bool seedGiven = false;
    std::vector<Fault> faults; // chosen from at random for each front run
    bool kills = true;
    AppChaos app;
    // Many clients on one loop: every front floods, nothing misbehaves
    // unless asked, and each client's rate is reported.
    bool flood = false;
    double rate = 100;   // depth records per second per instrument
    int instruments = 2; // per client
    // Of the clients, this many are redundant, two links each to a pair of
    // fronts serving one feed (pairs: fronts / 2, at least one). Negative:
    // a quarter of them (none when flooding).
    int redundant = -1;
    int Pairs() const { return redundant > 0 ? (fronts / 2 > 0 ? fronts / 2 : 1) : 0; }
    double warmup = -1;  // seconds; negative: a quarter of the run, at most 30 s
    std::string workdir; // empty: a fresh directory under /tmp
    bool verbose = false;
};

// Parses argv; prints the usage and exits on --help or a bad flag.
Options ParseOptions(int argc, char** argv);

} // namespace soak
