// The longest gap an application sees when its leading front goes silent
// (socket open, nothing sent), a single client against a redundant one with
// two links, both watching the same two fronts at the same time. The
// second front serves the same feed `lagMs` later. A single client finds
// out from its heartbeat (21 s) and moves to the second front; the
// redundant one was taking the second front's copies all along.
#include "Bench.h"
#include "BenchClients.h"

#include "FrontServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

namespace benchred {

namespace {

mdfront::FrontConfig Feed(double rate, double lagMs)
{
    mdfront::FrontConfig cfg;
    cfg.shared_feed = true;
    cfg.rate = rate;
    cfg.seed = 21;
    cfg.record_limit = 0;
    cfg.delay = std::chrono::microseconds(static_cast<long long>(lagMs * 1000));
    return cfg;
}

struct Gap {
    double longestMs = 0;       // after the leader went silent
    double longestBeforeMs = 0; // before it: the machine's own stalls
    long long missed = 0;       // numbers skipped after it, over the instruments
    std::size_t records = 0;    // after it
};

// The longest wait between two records of one instrument, before and after
// `from`, and the records never seen after it.
Gap Measure(const BenchClient& c, long long from)
{
    Gap g;
    std::map<int, const Arrival*> last;
    for (const Arrival& a : c.Arrivals()) {
        auto it = last.find(a.instrument);
        if (it != last.end()) {
            const double waited = static_cast<double>(a.atMicros - it->second->atMicros) / 1000.0;
            if (a.atMicros < from) {
                g.longestBeforeMs = std::max(g.longestBeforeMs, waited);
            } else {
                g.longestMs = std::max(g.longestMs, waited);
                if (a.slot > it->second->slot + 1)
                    g.missed += a.slot - it->second->slot - 1;
                ++g.records;
            }
        }
        last[a.instrument] = &a;
    }
    return g;
}

bool WaitFor(const std::vector<BenchClient*>& clients, std::size_t records, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        bool all = true;
        for (const BenchClient* c : clients)
            all = all && c->Count() >= records;
        if (all)
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

int RunGap(const GapOptions& o)
{
    mdfront::FrontServer lead(Feed(o.rate, 0));
    mdfront::FrontServer lag(Feed(o.rate, o.lagMs));
    const std::string a = "tcp://127.0.0.1:" + std::to_string(lead.Start());
    const std::string b = "tcp://127.0.0.1:" + std::to_string(lag.Start());
    const std::vector<std::string> instruments = {"au2612", "ag2612"};
    BenchClient single("single link", 1, {a, b}, instruments);
    BenchClient redundant("two links", 2, {a, b}, instruments);
    const auto warm =
        static_cast<std::size_t>(o.rate * o.warmSeconds * static_cast<double>(instruments.size()));
    if (!WaitFor({&single, &redundant}, warm, 60 + o.warmSeconds)) {
        std::fprintf(stderr, "bench_redundant: no records\n");
        return 1;
    }
    const long long silentAt = NowMicros();
    for (std::size_t conn = 0; conn < lead.ConnectionCount(); ++conn)
        lead.Silence(conn);
    std::this_thread::sleep_for(std::chrono::duration<double>(o.afterSeconds));
    single.Release();
    redundant.Release();
    lead.Stop();
    lag.Stop();

    std::printf("leading front silent, second front %.1f ms behind, %.0f records/s per instrument,"
                " watched %.0f s\n",
                o.lagMs, o.rate, o.afterSeconds);
    std::printf("%-12s %16s %16s %10s %20s\n", "client", "longest gap ms", "records missed", "records",
                "longest gap before ms");
    for (const BenchClient* c : {&single, &redundant}) {
        const Gap g = Measure(*c, silentAt);
        std::printf("%-12s %16.1f %16lld %10zu %20.1f\n", c->Name().c_str(), g.longestMs, g.missed, g.records,
                    g.longestBeforeMs);
    }
    std::printf("bound for two links: lag + one record interval = %.1f ms\n", o.lagMs + 1000.0 / o.rate);
    return 0;
}

} // namespace benchred
