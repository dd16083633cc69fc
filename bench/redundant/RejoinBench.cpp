// A leading front killed and restarted again and again while the other,
// jittered, serves the same feed: each time the leader's link comes back
// ahead of the other and joins it. Counts the slots the redundant client
// never delivered and the latest delivery after its slot's start, for the
// whole run: a join that holds too little loses the other link's records
// still on the way; one that holds too long delivers them late, the more
// so when the link in step falls silent as the other comes back
// (--silence-other 1).
#include "Bench.h"
#include "BenchClients.h"

#include "FrontServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

namespace benchred {

namespace {

mdfront::FrontConfig Feed(const RejoinOptions& o, double jitterMs)
{
    mdfront::FrontConfig cfg;
    cfg.shared_feed = true;
    cfg.rate = o.rate;
    cfg.seed = 23;
    cfg.record_limit = 0;
    cfg.jitter = std::chrono::microseconds(static_cast<long long>(jitterMs * 1000));
    return cfg;
}

} // namespace

int RunRejoin(const RejoinOptions& o)
{
    mdfront::FrontServer lead(Feed(o, 0));
    mdfront::FrontServer lag(Feed(o, o.jitterMs));
    const std::uint16_t leadPort = lead.Start();
    lead.SetPort(leadPort); // a restart comes back where the link looks
    const std::string a = "tcp://127.0.0.1:" + std::to_string(leadPort);
    const std::string b = "tcp://127.0.0.1:" + std::to_string(lag.Start());
    const std::vector<std::string> instruments = {"au2612", "ag2612"};
    BenchClient redundant("two links", 2, {a, b}, instruments);
    std::this_thread::sleep_for(std::chrono::duration<double>(o.warmSeconds));
    const long long from = NowMicros();
    for (int k = 0; k < o.restarts; ++k) {
        lead.Stop();
        std::this_thread::sleep_for(std::chrono::duration<double>(o.downSeconds));
        lead.Start();
        if (o.silenceOther) {
            // The link in step goes quiet as the leader's comes back ahead.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            for (std::size_t conn = 0; conn < lag.ConnectionCount(); ++conn)
                lag.Silence(conn);
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(o.upSeconds));
    }
    redundant.Release();
    lead.Stop();
    lag.Stop();

    std::map<int, int> last;
    long long missed = 0;
    double latestMs = 0;
    std::size_t records = 0;
    for (const Arrival& r : redundant.Arrivals()) {
        auto it = last.find(r.instrument);
        if (r.atMicros >= from) {
            ++records;
            if (it != last.end() && r.slot > it->second + 1)
                missed += r.slot - it->second - 1;
            latestMs = std::max(
                latestMs, static_cast<double>(r.atMicros - SlotStartMicros(r.day, r.slot, o.rate)) / 1000.0);
        }
        last[r.instrument] = r.slot;
    }
    std::printf(
        "leader killed and restarted %d times (down %.1f s, up %.1f s), the other front jittered by 0 to "
        "%.1f ms%s, %.0f records/s per instrument\n",
        o.restarts, o.downSeconds, o.upSeconds, o.jitterMs,
        o.silenceOther ? " and silenced as the leader came back" : "", o.rate);
    std::printf("%10s %16s %22s\n", "records", "slots missed", "latest after slot ms");
    std::printf("%10zu %16lld %22.1f\n", records, missed, latestMs);
    return 0;
}

} // namespace benchred
