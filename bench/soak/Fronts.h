// The soak's fronts: M simulated fronts on fixed loopback ports, each
// serving in runs, and pairs of fronts serving one feed (the same seed and
// form, each run delayed by 0 to 30 ms of its own) for the redundant
// clients. Every connection gets a fault kind of its own (or none)
// on accept; a run ends when the front is killed (at once, or after letting
// its clients read what was queued), and after a pause the front comes back
// on the same port. Every run has its own FrontID, so a client tells from
// its login response which run and which connection of it served it.
// Driven from one thread; the fault choice runs on the fronts' threads.
#pragma once

#include "Options.h"

#include "FrontServer.h"
#include "MdApi.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace soak {

using Clock = std::chrono::steady_clock;

// The sequence number a front stamped into a depth record; 0 when the record
// carries none (a body cut short before it, say).
std::uint64_t StampedSeq(const CThostFtdcDepthMarketDataField& d);

// What the front knows of one connection.
struct ConnFigures {
    bool final = false;                 // the socket is closed: nothing more will change
    std::uint64_t wholeBeforeFault = 0; // last sequence number written whole before a fault
    // Everything written had reached the client's end at the close; when
    // not, a reset may have thrown away the last records written.
    bool acknowledged = false;
};

// Records a second the probe front sends its one client.
constexpr double ProbeRate = 1000;

class FrontPool {
public:
    FrontPool(const Options& options, std::uint64_t seed);
    ~FrontPool();

    // Binds every front on an ephemeral port and starts its first run.
    void Start();
    // The port of each front, then those of the pairs (two each), then that
    // of the probe front: healthy, never killed, a steady 1000 records a
    // second, for measuring the loop's stalls.
    std::vector<std::uint16_t> Ports() const;
    // Kills and restarts fronts whose time has come.
    void Step(Clock::time_point now);
    // Ends every run.
    void Stop();

    enum class Lookup { Pending, Found, Unknown };
    // Figures of connection `session` (1-based) of the run with this FrontID.
    Lookup Figures(int frontId, int session, ConnFigures& out) const;

    // Connections per fault kind (Kill: connections cut by a kill), runs,
    // kills (and how many of them drained first), failed restarts.
    std::array<std::uint64_t, static_cast<int>(Fault::Count_)> Connections() const;
    std::uint64_t runs = 0;
    std::uint64_t kills = 0;
    std::uint64_t drainedKills = 0;
    std::uint64_t failedStarts = 0;

private:
    struct Run {
        int frontId = 0;
        std::unique_ptr<mdfront::FrontServer> server;
    };
    struct Front {
        int pair = -1; // the pair it belongs to, if any
        std::uint16_t port = 0;
        std::unique_ptr<Run> run; // null while down
        Clock::time_point next;   // when to kill it, or to start it again
    };
    struct DeadRun {
        int frontId;
        std::vector<ConnFigures> figures;
    };

    bool StartRun(Front& f, Clock::time_point now);
    void EndRun(Front& f, bool killed);
    mdfront::FrontConfig ConfigFor(int frontId, const Front& f);
    // On a front's thread, for each accepted connection.
    mdfront::FrontFaults FaultsOf(mdfront::DepthForm form, bool pair);
    double Uniform(double lo, double hi);

    const Options& opt_;
    std::mt19937_64 rng_;
    std::vector<Front> fronts_;
    struct PairFeed {
        std::uint64_t seed;
        mdfront::DepthForm form;
    };
    std::vector<PairFeed> pairs_;
    std::unique_ptr<mdfront::FrontServer> probe_;
    std::deque<DeadRun> dead_; // the most recent ended runs, for late lookups
    std::map<int, const Run*> live_;
    int nextFrontId_ = 1;

    mutable std::mutex faultMu_; // guards the two below
    std::mt19937_64 faultRng_;
    std::array<std::uint64_t, static_cast<int>(Fault::Count_)> connections_{};
};

} // namespace soak
