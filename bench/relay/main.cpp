// bench_relay: what mdrelay sustains into JetStream against what the NATS
// client library alone does, and what it adds to the latency, measured in
// one run on servers it starts on loopback.
//   rate      records a second into one node and a three-node cluster (three
//             replicas), memory and file storage, message ids on: a bare
//             asynchronous publisher, then the highest rate at which the
//             relay keeps up with an mdfront offering 0.2, 0.3, ... 1.1 times
//             the bare publisher's; and the library's own rate from an
//             mdfront sending as fast as it can, inside the relay and in a
//             plain application
//   latency   one-way latency of paced records, front -> application and
//             front -> relay -> stream -> consumer, p50 and p99
//   leader    records dropped, and the longest time without an
//             acknowledgement, across a leader that steps down or is killed
//             (8000 and 16000 records a second; not run unless asked)
//   fixed     CPU a record of the bare publisher and of the relay at the same
//             fixed rate, 20000 and 5000 a second, one node, file storage
//             (not run unless asked)
// Usage: bench_relay [--smoke] [--rounds N] [--seconds S] [rate] [latency] [leader] [fixed]
#include "BarePublisher.h"
#include "BusClient.h"
#include "NatsServers.h"
#include "Runs.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace benchrelay;

struct Settings {
    int rounds = 3;
    double seconds = 5;
    double warmup = 2;
    long bareRecords = 300000;
    long latencyRecords = 5000;
    long latencyWarmup = 500;
    std::vector<int> nodes = {1, 3};
    std::vector<const char*> storages = {"memory", "file"};
    bool rate = false;
    bool latency = false;
    bool leader = false;
    bool fixed = false;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string Figure(const std::vector<double>& v, int decimals = 0)
{
    char buf[96];
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    std::snprintf(buf, sizeof buf, "%.*f (%.*f–%.*f)", decimals, Median(v), decimals, *lo, decimals, *hi);
    return buf;
}

double Percentile(std::vector<std::int64_t> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return static_cast<double>(v[static_cast<std::size_t>(p * (v.size() - 1))]) / 1000.0;
}

// An mdfront offering `rate` records a second in all (0: as fast as it can).
std::string StartFront(relaytest::Child& front, double rate, const std::filesystem::path& dir)
{
    const std::string out = (dir / "front.out").string();
    std::filesystem::remove(out);
    front.Start({MDFRONT_PROGRAM, "--port", "0", "--rate", std::to_string(rate / 4), "--instruments",
                 "au2612,ag2612,IF2612,IC2612"},
                out);
    std::string port;
    relaytest::Eventually([&] {
        const std::string text = front.Output();
        const std::size_t at = text.find("listening on 127.0.0.1:");
        if (at == std::string::npos)
            return false;
        port = std::to_string(std::atoi(text.c_str() + at + 23));
        return true;
    });
    return "tcp://127.0.0.1:" + port;
}

// The highest of offered rates (fractions of the bare publisher's) at which
// the relay keeps up: nothing dropped, stored as fast as received. Stops at
// the first it cannot keep up with.
struct Sustained {
    double rate = 0;
    double publishUs = 0, libraryUs = 0;
};

Sustained SustainedRate(const Settings& s, const std::string& urls, const char* storage, int nodes,
                        double bare, const std::filesystem::path& dir)
{
    Sustained best;
    for (double share : {0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.1}) {
        relaytest::Child frontProcess;
        const std::string front = StartFront(frontProcess, share * bare, dir);
        const RelayFigures f =
            RelayRate(urls, front, {"--storage", storage, "--replicas", std::to_string(nodes)}, s.warmup,
                      s.seconds, dir);
        if (!f.keptUp)
            break;
        best.rate = f.stored;
        best.publishUs = f.publishUsPerRecord;
        best.libraryUs = f.libraryUsPerRecord;
    }
    return best;
}

void Rates(const Settings& s, const std::filesystem::path& dir)
{
    std::printf("| Servers | Storage | bare publisher, records/s | mdrelay sustains, records/s "
                "| relay / bare | CPU µs a record: bare / relay publishing / relay's library |\n"
                "|---|---|---|---|---|---|\n");
    for (int nodes : s.nodes) {
        relaytest::NatsCluster cluster(nodes, dir / ("servers" + std::to_string(nodes)));
        if (!cluster.Start()) {
            std::fprintf(stderr, "bench_relay: the servers did not start\n");
            return;
        }
        for (const char* storage : s.storages) {
            std::vector<double> bare, relay, ratio, bareCpu, relayCpu, libraryCpu;
            for (int r = 0; r < s.rounds; ++r) {
                FreshStream(cluster.Urls(), storage, nodes);
                const BareFigures b = BarePublish(cluster.Urls(), s.bareRecords, 4096);
                const Sustained k = SustainedRate(s, cluster.Urls(), storage, nodes, b.rate, dir);
                bare.push_back(b.rate);
                bareCpu.push_back(b.cpuUsPerRecord);
                relay.push_back(k.rate);
                ratio.push_back(b.rate > 0 ? k.rate / b.rate : 0);
                relayCpu.push_back(k.publishUs);
                libraryCpu.push_back(k.libraryUs);
            }
            std::printf("| %s | %s | %s | %s | %.2f | %.1f / %.1f / %.1f |\n",
                        nodes == 1 ? "one node" : "three nodes, 3 replicas", storage, Figure(bare).c_str(),
                        Figure(relay).c_str(), Median(ratio), Median(bareCpu), Median(relayCpu),
                        Median(libraryCpu));
            std::fflush(stdout);
        }
    }
    // The library's own rate from a front sending as fast as it can: alone,
    // and inside the relay, whose queue gives way rather than hold it back.
    std::vector<double> alone, inside;
    relaytest::Child frontProcess;
    const std::string front = StartFront(frontProcess, 0, dir);
    relaytest::NatsCluster one(1, dir / "library");
    if (!one.Start())
        return;
    for (int r = 0; r < s.rounds; ++r) {
        alone.push_back(LibraryRate(front, s.warmup, s.seconds));
        inside.push_back(
            RelayRate(one.Urls(), front, {"--storage", "memory"}, s.warmup, s.seconds, dir).received);
    }
    std::printf("\n| mdfront as fast as it can (four instruments) | records/s |\n|---|---|\n"
                "| the library in a plain application | %s |\n"
                "| the library inside mdrelay | %s |\n\n",
                Figure(alone).c_str(), Figure(inside).c_str());
}

void Latency(const Settings& s, const std::filesystem::path& dir)
{
    relaytest::NatsCluster cluster(1, dir / "latency");
    if (!cluster.Start()) {
        std::fprintf(stderr, "bench_relay: the server did not start\n");
        return;
    }
    const long interval = 1'000'000; // 1000 records a second
    std::printf("| Path (1000 records/s, %ld samples) | p50 µs | p99 µs |\n|---|---|---|\n",
                s.latencyRecords);
    const auto direct = DirectLatency(s.latencyRecords, s.latencyWarmup, interval);
    std::printf("| front -> application (libmdlink) | %.1f | %.1f |\n", Percentile(direct, 0.5),
                Percentile(direct, 0.99));
    for (bool lowLatency : {false, true}) {
        for (const char* storage : s.storages) {
            const auto bus = RelayLatency(cluster.Urls(), storage, lowLatency, s.latencyRecords,
                                          s.latencyWarmup, interval, dir);
            const char* mode = lowLatency ? "mdrelay --low-latency" : "mdrelay";
            std::printf("| front -> %s -> one node, %s -> consumer | %.1f | %.1f |\n", mode, storage,
                        Percentile(bus, 0.5), Percentile(bus, 0.99));
            std::printf("| added by the bus (%s, %s) | %.1f | %.1f |\n", mode, storage,
                        Percentile(bus, 0.5) - Percentile(direct, 0.5),
                        Percentile(bus, 0.99) - Percentile(direct, 0.99));
        }
    }
}

// The CPU a record of the bare publisher and of the relay at the same
// fixed rate, one node, file storage: batching at the top rate is cheaper,
// so only equal rates compare.
void FixedRates(const Settings& s, const std::filesystem::path& dir)
{
    relaytest::NatsCluster one(1, dir / "fixed");
    if (!one.Start()) {
        std::fprintf(stderr, "bench_relay: the server did not start\n");
        return;
    }
    std::printf("| Fixed rate (one node, file) | records/s | CPU µs a record: bare publisher | "
                "relay publishing (library thread excluded) | relay's library thread | "
                "relay / bare |\n|---|---|---|---|---|---|\n");
    for (const double rate : {20000.0, 5000.0}) {
        std::vector<double> bare, relay, library, ratio;
        for (int r = 0; r < s.rounds; ++r) {
            FreshStream(one.Urls(), "file", 1);
            const BareFigures b =
                BarePublish(one.Urls(), static_cast<long>(rate * (s.warmup + s.seconds)), 4096, rate);
            relaytest::Child frontProcess;
            const std::string front = StartFront(frontProcess, rate, dir);
            const RelayFigures f = RelayRate(one.Urls(), front, {}, s.warmup, s.seconds, dir);
            frontProcess.Signal(SIGTERM);
            frontProcess.Wait(relaytest::Patience);
            bare.push_back(b.cpuUsPerRecord);
            relay.push_back(f.publishUsPerRecord);
            library.push_back(f.libraryUsPerRecord);
            ratio.push_back(b.cpuUsPerRecord > 0 ? f.publishUsPerRecord / b.cpuUsPerRecord : 0);
        }
        std::printf("| | %.0f | %s | %s | %s | %.2f |\n", rate, Figure(bare, 1).c_str(),
                    Figure(relay, 1).c_str(), Figure(library, 1).c_str(), Median(ratio));
        std::fflush(stdout);
    }
}

// Across a change of the stream's leader (asked to step down, or killed and
// started again later) with an mdfront offering `rate` records a second:
// the records the relay dropped, and the longest time its acknowledged
// counter stood still (from its status lines, 100 ms apart).
struct LeaderFigures {
    std::uint64_t dropped = 0;
    double stillSeconds = 0;
    double received = 0; // records a second the relay received, over the run
};

void Sleep(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); // a measuring window
}

LeaderFigures LeaderChange(relaytest::NatsCluster& cluster, double rate, bool kill, double seconds,
                           const std::filesystem::path& dir)
{
    LeaderFigures f;
    relaytest::Child frontProcess;
    const std::string front = StartFront(frontProcess, rate, dir);
    relaytest::BusClient bus(cluster.Urls());
    bus.Delete("MD");
    relaytest::Child relay;
    std::filesystem::remove(dir / "leader.out");
    if (!relay.Start({MDRELAY_PROGRAM, "--front", front, "--nats", cluster.Urls(), "--instruments",
                      "au2612,ag2612,IF2612,IC2612", "--status-interval", "100ms", "--name", "bench",
                      "--replicas", "3"},
                     (dir / "leader.out").string()))
        return f;
    relaytest::Eventually([&] { return bus.State("MD").messages > 0; });
    Sleep(2);
    const std::string leader = bus.State("MD").leader;
    if (kill)
        cluster.Node(leader).Kill();
    else
        bus.StepDown("MD");
    Sleep(seconds);
    relay.Signal(SIGTERM);
    relay.Wait(relaytest::Patience);
    if (kill)
        cluster.Node(leader).Start();
    std::istringstream lines(relay.Output());
    std::uint64_t last = 0, firstReceived = 0, lastReceived = 0;
    int still = 0, longest = 0, statusLines = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(" acknowledged=");
        if (line.rfind("mdrelay: received=", 0) != 0 || at == std::string::npos)
            continue;
        const std::uint64_t acked = std::stoull(line.substr(at + 14));
        still = acked == last ? still + 1 : 0;
        longest = std::max(longest, still);
        last = acked;
        const std::size_t d = line.find(" dropped=");
        f.dropped = std::stoull(line.substr(d + 9));
        lastReceived = std::stoull(line.substr(18));
        if (statusLines++ == 0)
            firstReceived = lastReceived;
    }
    f.stillSeconds = longest * 0.1;
    if (statusLines > 1)
        f.received = (lastReceived - firstReceived) / ((statusLines - 1) * 0.1);
    frontProcess.Signal(SIGTERM);
    frontProcess.Wait(relaytest::Patience);
    return f;
}

void LeaderChanges(const Settings& s, const std::filesystem::path& dir)
{
    relaytest::NatsCluster cluster(3, dir / "leader");
    if (!cluster.Start()) {
        std::fprintf(stderr, "bench_relay: the cluster did not start\n");
        return;
    }
    std::printf("| Leader change (three nodes, 3 replicas, file) | offered/s | received/s | "
                "dropped | longest without an acknowledgement, s |\n|---|---|---|---|---|\n");
    for (const double rate : {8000.0, 16000.0}) {
        for (const bool kill : {false, true}) {
            std::vector<double> dropped, still, received;
            for (int r = 0; r < s.rounds; ++r) {
                const LeaderFigures f = LeaderChange(cluster, rate, kill, 10, dir);
                dropped.push_back(static_cast<double>(f.dropped));
                still.push_back(f.stillSeconds);
                received.push_back(f.received);
                cluster.WaitJetStream();
            }
            std::printf("| %s | %.0f | %s | %s | %s |\n", kill ? "leader killed" : "leader steps down", rate,
                        Figure(received).c_str(), Figure(dropped).c_str(), Figure(still, 1).c_str());
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--smoke") {
            s.rounds = 1;
            s.seconds = 0.5;
            s.warmup = 0.2;
            s.bareRecords = 2000;
            s.latencyRecords = 200;
            s.latencyWarmup = 20;
            s.nodes = {1};
            s.storages = {"memory"};
        } else if (a == "--rounds" && i + 1 < argc) {
            s.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--seconds" && i + 1 < argc) {
            s.seconds = std::atof(argv[++i]);
        } else if (a == "--nodes" && i + 1 < argc) {
            // One setting only, for a quicker look: 1 or 3 servers.
            s.nodes = {std::atoi(argv[++i]) == 3 ? 3 : 1};
        } else if (a == "--storage" && i + 1 < argc) {
            const std::string v = argv[++i];
            s.storages = {v == "file" ? "file" : "memory"};
        } else if (a == "rate") {
            s.rate = true;
        } else if (a == "latency") {
            s.latency = true;
        } else if (a == "leader") {
            s.leader = true;
        } else if (a == "fixed") {
            s.fixed = true;
        } else {
            std::fprintf(stderr,
                         "usage: bench_relay [--smoke] [--rounds N] [--seconds S] "
                         "[--nodes 1|3] [--storage memory|file] [rate] [latency] [leader] "
                         "[fixed]\n");
            return 2;
        }
    }
    if (!s.rate && !s.latency && !s.leader && !s.fixed)
        s.rate = s.latency = true;
    std::string why;
    if (relaytest::NatsServerPath(why).empty()) {
        std::fprintf(stderr, "bench_relay: %s\n", why.c_str());
        return 1;
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench_relay-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    if (s.rate)
        Rates(s, dir);
    if (s.latency)
        Latency(s, dir);
    if (s.leader)
        LeaderChanges(s, dir);
    if (s.fixed)
        FixedRates(s, dir);
    std::filesystem::remove_all(dir);
    return 0;
}
