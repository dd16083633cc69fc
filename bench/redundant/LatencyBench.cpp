// One-way latency, from the start of a record's slot (when both fronts
// build it) to the application's callback: a single client on one front
// against a redundant one on two, both fronts delayed by a jitter of their
// own (uniform up to jitterMs). All clients run at the same time, on the
// same loop, against the same fronts; a redundant client takes whichever
// copy comes first.
#include "Bench.h"
#include "BenchClients.h"

#include "FrontServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace benchred {

namespace {

mdfront::FrontConfig Feed(const LatencyOptions& o)
{
    mdfront::FrontConfig cfg;
    cfg.shared_feed = true;
    cfg.rate = o.rate;
    cfg.seed = 22;
    cfg.record_limit = 0;
    cfg.jitter = std::chrono::microseconds(static_cast<long long>(o.jitterMs * 1000));
    return cfg;
}

double Percentile(std::vector<double>& v, double p)
{
    if (v.empty())
        return 0;
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(i), v.end());
    return v[i];
}

} // namespace

int RunLatency(const LatencyOptions& o)
{
    mdfront::FrontServer first(Feed(o));
    mdfront::FrontServer second(Feed(o));
    const std::string a = "tcp://127.0.0.1:" + std::to_string(first.Start());
    const std::string b = "tcp://127.0.0.1:" + std::to_string(second.Start());
    const std::vector<std::string> instruments = {"au2612", "ag2612"};
    BenchClient single("one front", 1, {a}, instruments);
    BenchClient redundant("two fronts", 2, {a, b}, instruments);
    const long long from = NowMicros() + static_cast<long long>(o.warmSeconds * 1e6);
    std::this_thread::sleep_for(std::chrono::duration<double>(o.warmSeconds + o.seconds));
    single.Release();
    redundant.Release();
    first.Stop();
    second.Stop();

    std::printf("each front jittered by 0 to %.2f ms, %.0f records/s per instrument, %zu "
                "instruments, %.0f s\n",
                o.jitterMs, o.rate, instruments.size(), o.seconds);
    std::printf("%-12s %10s %10s %10s %10s\n", "client", "p50 us", "p99 us", "p99.9 us", "records");
    for (const BenchClient* c : {&single, &redundant}) {
        std::vector<double> us;
        for (const Arrival& r : c->Arrivals())
            if (r.atMicros >= from)
                us.push_back(static_cast<double>(r.atMicros - SlotStartMicros(r.day, r.slot, o.rate)));
        const std::size_t n = us.size();
        const double p50 = Percentile(us, 0.5), p99 = Percentile(us, 0.99), p999 = Percentile(us, 0.999);
        std::printf("%-12s %10.1f %10.1f %10.1f %10zu\n", c->Name().c_str(), p50, p99, p999, n);
    }
    return 0;
}

} // namespace benchred
