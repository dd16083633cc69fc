#include "Report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace soak {

namespace {

const char* const CallbackNames[] = {"OnFrontConnected", "OnFrontDisconnected", "OnRspUserLogin",
                                     "OnRspSubMarketData", "OnRtnDepthMarketData"};
static_assert(sizeof CallbackNames / sizeof CallbackNames[0] == static_cast<int>(Callback::Count_),
              "a name for every callback");

std::string Count(std::uint64_t n)
{
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string Format(const char* fmt, double a, double b = 0, double c = 0)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

std::string ReasonName(int reason)
{
    if (reason == ReasonLinkLost)
        return "0x2001 link lost";
    if (reason == ReasonHeartBeat)
        return "0x2002 heartbeat timeout";
    return std::to_string(reason) + " " + std::strerror(reason);
}

class Table {
public:
    void Row(const std::string& what, const std::string& value, int ok = -1)
    {
        std::printf("| %s | %s | %s |\n", what.c_str(), value.c_str(), ok < 0 ? "" : ok ? "ok" : "FAILED");
        if (ok == 0)
            failed_ = true;
    }
    bool Failed() const { return failed_; }

private:
    bool failed_ = false;
};

std::string DelayText(const DelayBound& d)
{
    if (d.Count() == 0)
        return "none seen";
    return Count(d.Count()) + ", " + Format("%.0f to %.0f ms", d.Min(), d.Max());
}

std::uint64_t Thrown(const Tally& t)
{
    std::uint64_t n = 0;
    for (auto& c : t.thrown)
        n += c.load();
    return n;
}

// What was done to the library: front faults, application misbehaviour,
// and the reconnections they caused.
void Injected(Table& tab, const Options& o, const Tally& t, const RunFigures& f)
{
    const FrontCounts& fc = f.fronts;
    tab.Row("front runs",
            Count(fc.runs) + (fc.failedStarts ? " (" + Count(fc.failedStarts) + " restarts retried)" : ""));
    tab.Row("healthy connections", Count(fc.connections[0]));
    for (int k = static_cast<int>(Fault::Silent); k < static_cast<int>(Fault::Kill); ++k)
        if (std::find(o.faults.begin(), o.faults.end(), static_cast<Fault>(k)) != o.faults.end())
            tab.Row(std::string("fault: ") + FaultName(static_cast<Fault>(k)),
                    Count(fc.connections[static_cast<std::size_t>(k)]) + " connections");
    if (o.kills)
        tab.Row("fault: front killed and restarted",
                Count(fc.kills) + " kills (" + Count(fc.drainedKills) + " after a drain), " +
                    Count(fc.connections[static_cast<int>(Fault::Kill)]) + " connections cut");
    const std::uint64_t thrown = Thrown(t);
    tab.Row("application: exceptions thrown", Count(thrown));
    tab.Row("application: callbacks blocked (up to 100 ms)", Count(t.blocks.load()));
    tab.Row("application: Release from another thread, then re-created", Count(t.releasesFromThread.load()));
    tab.Row("application: Release from inside a callback", Count(t.releasesInCallback.load()));
    tab.Row("application: RegisterSpi switched", Count(t.spiSwitches.load()));

    for (const auto& r : t.reasons)
        tab.Row("reconnects: " + ReasonName(r.first), Count(r.second));
}

void Order(Table& tab, const Tally& t)
{
    tab.Row("connections that lost a record", Count(t.connectionsLost.load()), t.connectionsLost.load() == 0);
    tab.Row("connections with a duplicated or reordered record", Count(t.connectionsDuplicated.load()),
            t.connectionsDuplicated.load() == 0);
    tab.Row("connections closed before the client had all (tail not owed)",
            Count(t.connectionsUnacknowledged.load()));
    tab.Row("connections no front figure covered", Count(t.connectionsUnresolved.load()));
    tab.Row("records not checked (login response cut short, or no figure)", Count(t.uncheckedRecords.load()));
}

// Redundant clients: every record at most once and in order, none lost that
// reached one of its links while it was news.
void Pairs(Table& tab, const Options& o, const Tally& t)
{
    if (o.redundant == 0)
        return;
    tab.Row("redundant clients: records received", Count(t.pairRecords.load()));
    tab.Row("redundant clients: records twice or out of order", Count(t.pairOutOfOrder.load()),
            t.pairOutOfOrder.load() == 0);
    tab.Row("redundant clients: records a link brought, never delivered", Count(t.pairLost.load()),
            t.pairLost.load() == 0);
    tab.Row("redundant clients: records held while a link joined ahead", Count(t.pairHeld.load()));
    tab.Row("redundant clients: single links lost", Count(t.pairLinkLosses.load()));
    std::uint64_t heard = 0;
    for (const auto& r : t.pairDisconnects)
        heard += r.second;
    tab.Row("redundant clients: OnFrontDisconnected heard (both links down)", Count(heard));
}

void Timing(Table& tab, const Tally& t, const RunFigures& f)
{
    const double callbackMs = static_cast<double>(t.longestCallbackNs.load()) / 1e6;
    const double oversleepMs = static_cast<double>(t.longestOversleepNs.load()) / 1e6;
    // The probe's gap covers a blocked callback too; it is the stall unless
    // the probe missed a callback longer still.
    const double stall = std::max(f.probeGapMs, callbackMs);
    tab.Row(
        "longest loop stall measured",
        Format("%.1f ms (probe's longest gap between records, %.0f s into the run; ", stall, f.probeGapAt) +
            Format("longest callback %.1f ms; longest scheduling delay of the soak's own "
                   "thread %.1f ms)",
                   callbackMs, oversleepMs));
    tab.Row("probe records (1000/s from a healthy front)", Count(f.probeRecords), f.probeRecords > 0);
    tab.Row("retry after a lost link or failed attempt (bound 3000 ms)",
            DelayText(t.retry) +
                Format(", allowed %.0f to %.0f ms", 3000 - DelayBound::EarlyToleranceMs, 3300 + stall),
            !t.retry.TooEarly() && !t.retry.TooLate(stall));
    tab.Row("heartbeat timeout after silence (bound 21000 ms)",
            DelayText(t.silence) +
                Format(", allowed %.0f to %.0f ms", 21000 - DelayBound::EarlyToleranceMs, 23100 + stall),
            !t.silence.TooEarly() && !t.silence.TooLate(stall));
}

void Releases(Table& tab, const Tally& t, const RunFigures& f)
{
    const std::uint64_t thrown = Thrown(t);
    tab.Row("callbacks after Release returned", Count(t.callbacksAfterRelease.load()),
            t.callbacksAfterRelease.load() == 0);
    tab.Row("callbacks on a callback object RegisterSpi had replaced", Count(t.callbacksOnReplacedSpi.load()),
            t.callbacksOnReplacedSpi.load() == 0);
    bool perCallback = true;
    for (int c = 0; c < static_cast<int>(Callback::Count_); ++c) {
        auto it = f.logged.byCallback.find(CallbackNames[c]);
        const std::uint64_t logged = it == f.logged.byCallback.end() ? 0 : it->second;
        if (logged != t.thrown[c].load())
            perCallback = false;
    }
    tab.Row("exceptions counted in err records",
            Count(f.logged.total) + " of " + Count(thrown) + " in " + Count(f.logged.lines) + " records",
            f.logged.total == thrown && perCallback);
}

// Memory, descriptors and threads: without sanitizers only.
void Resources(Table& tab, const RunFigures& f)
{
    if (f.resourcesChecked) {
        const double growth =
            static_cast<double>(f.end.residentBytes) - static_cast<double>(f.warm.residentBytes);
        tab.Row("resident anonymous memory after warm-up / at the end, clients released",
                Format("%.1f MiB / %.1f MiB (%+.0f KiB)", f.warm.residentBytes / 1048576.0,
                       f.end.residentBytes / 1048576.0, growth / 1024),
                growth < static_cast<double>(MaxResidentGrowthBytes));
        const double heapGrowth =
            static_cast<double>(f.end.heapInUseBytes) - static_cast<double>(f.warm.heapInUseBytes);
        tab.Row("heap in use at the same points",
                Format("%.1f MiB / %.1f MiB (%+.0f KiB)", f.warm.heapInUseBytes / 1048576.0,
                       f.end.heapInUseBytes / 1048576.0, heapGrowth / 1024),
                heapGrowth < static_cast<double>(MaxHeapGrowthBytes));
        tab.Row("resident anonymous memory, clients running",
                Format("%.1f MiB / %.1f MiB", f.warmInFlight.residentBytes / 1048576.0,
                       f.endInFlight.residentBytes / 1048576.0));
        tab.Row("open descriptors: baseline / end",
                std::to_string(f.base.descriptors) + " / " + std::to_string(f.after.descriptors),
                f.after.descriptors == f.base.descriptors);
        tab.Row("threads: baseline / end",
                std::to_string(f.base.threads) + " / " + std::to_string(f.after.threads),
                f.after.threads == f.base.threads);
    } else {
        tab.Row("memory, descriptors, threads", "not checked under a sanitizer");
    }
}

// Many clients on one loop.
void Flood(Table& tab, const RunFigures& f)
{
    if (!f.floodTo.empty() && f.floodSeconds > 0) {
        double lo = 0, hi = 0;
        for (std::size_t i = 0; i < f.floodTo.size(); ++i) {
            const double rate = static_cast<double>(f.floodTo[i] - f.floodFrom[i]) / f.floodSeconds;
            lo = i == 0 ? rate : std::min(lo, rate);
            hi = i == 0 ? rate : std::max(hi, rate);
        }
        tab.Row("per-client rate, lowest / highest", Format("%.0f / %.0f records/s", lo, hi));
        tab.Row("5 s windows in which a client received nothing",
                Count(f.starvedWindows) + " of " + Count(f.windows * f.floodTo.size()),
                f.starvedWindows == 0);
    }
}

} // namespace

const char* CallbackName(Callback c)
{
    return CallbackNames[static_cast<int>(c)];
}

int Print(const Options& o, Tally& t, const RunFigures& f)
{
    Table tab;
    std::lock_guard<std::mutex> lk(t.mu);
    std::printf("\nsoak: K=%d M=%d T=%.0f s seed %llu, %s\n\n", o.clients, o.fronts, o.seconds,
                static_cast<unsigned long long>(o.seed),
                o.flood ? "flood" : Format("%.0f records/s per instrument", o.rate).c_str());
    std::printf("| Figure | Value | Check |\n|---|---|---|\n");
    tab.Row("records received", Count(t.records.load()));
    tab.Row("records on connections checked against the front",
            Count(t.recordsChecked.load()) + " on " + Count(t.connectionsChecked.load()) + " connections");
    Injected(tab, o, t, f);
    Order(tab, t);
    Pairs(tab, o, t);
    Timing(tab, t, f);
    Releases(tab, t, f);
    Resources(tab, f);
    Flood(tab, f);

    const bool failed = tab.Failed();
    std::printf("\nsoak: %s (seed %llu)\n", failed ? "FAILED" : "all invariants held",
                static_cast<unsigned long long>(o.seed));
    for (const std::string& s : t.failures)
        std::printf("  %s\n", s.c_str());
    return failed ? 1 : 0;
}

} // namespace soak
