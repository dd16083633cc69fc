// bench_e2e: what the library costs against what the machine can do, and
// against a simple implementation, measured in one run on loopback.
//   throughput  frames per second: naive, raw and libmdlink, binary and text
//   latency     one-way wire-to-callback latency of paced frames: raw (blocking,
//               epoll, busy-polling), naive, libmdlink and its low-latency
//               mode; p50/p99/p99.9, and each mode's p50 against the raw
//               receiver that waits the same way
//   memory      heap allocations per frame on the loop thread, resident memory
//               of an idle client
//   syscalls    system calls per frame at a low rate, each receiver alone in a
//               process under strace (needs strace)
// Usage: bench_e2e [--smoke] [--csv FILE] [throughput|latency|memory|syscalls]...
//   --csv FILE  writes every latency sample as "receiver,microseconds"
#include "Allocations.h"
#include "Receivers.h"
#include "Sender.h"
#include "Stream.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace bench;

struct Scale {
    long binaryFrames, textFrames, latencyFrames, latencyWarmup, latencyRate;
    int runs;
    long syscallFrames, syscallRate;
};

constexpr int BlockFrames = 1000;
// The naive receiver is an order of magnitude slower: fewer frames keep its
// runs as long as the others'.
constexpr long NaiveShare = 10;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string Rule(std::initializer_list<int> widths)
{
    std::string s = "|";
    for (int w : widths)
        s += std::string(static_cast<std::size_t>(w + 2), '-') + "|";
    return s;
}

// One receiver taking frames from a fresh blasting sender.
template <class Receive>
Throughput Take(const std::string& block, long frames, Receive receive)
{
    Sender sender;
    sender.Blast(block, frames / BlockFrames);
    const Throughput t = receive(sender.Port(), frames);
    sender.Wait();
    return t;
}

// What each receiver's thread spends per frame (medians, ns), for the
// second table: the rate is bound by the one sending thread, the CPU is not.
struct CpuRow {
    const char* name;
    double raw, epoll, lib;
};
std::vector<CpuRow> g_cpuRows;

// The receivers take turns, so that the machine's drift during the run (this
// is a shared virtual machine) falls on all alike; medians are shown. Text is
// decoded by the raw and naive receivers with the reference decoder, so that
// every column does the same work.
void ThroughputRow(const char* name, Form form, long frames, int runs)
{
    const std::string block = DepthFrames(form, BlockFrames);
    const bool decode = form == Form::Text;
    std::vector<double> naive, raw, lib, rawCpu, epollCpu, libCpu;
    for (int i = 0; i < runs; ++i) {
        naive.push_back(Take(block, frames / NaiveShare, [&](int port, long n) {
                            return PlainThroughput(Receiver::Naive, port, n, decode);
                        }).FramesPerSecond());
        const Throughput r = Take(
            block, frames, [&](int port, long n) { return PlainThroughput(Receiver::Raw, port, n, decode); });
        raw.push_back(r.FramesPerSecond());
        rawCpu.push_back(r.CpuNsPerFrame());
        epollCpu.push_back(Take(block, frames, [&](int port, long n) {
                               return PlainThroughput(Receiver::RawEpoll, port, n, decode);
                           }).CpuNsPerFrame());
        const Throughput l = Take(block, frames, LibraryThroughput);
        lib.push_back(l.FramesPerSecond());
        libCpu.push_back(l.CpuNsPerFrame());
    }
    const double n = Median(naive), r = Median(raw), l = Median(lib);
    std::printf("| %-24s | %12.0f | %12.0f | %12.0f | %10.2f | %10.2f |\n", name, n, r, l, l / r, n / r);
    g_cpuRows.push_back({name, Median(rawCpu), Median(epollCpu), Median(libCpu)});
}

void ThroughputTable(const Scale& s)
{
    std::printf("\nThroughput (frames per second, median of %d runs each, taking turns; a sender thread "
                "blasts frames on loopback; text decoded by every receiver)\n\n",
                s.runs);
    std::printf("| %-24s | %12s | %12s | %12s | %10s | %10s |\n", "stream", "naive", "raw", "libmdlink",
                "lib / raw", "naive / raw");
    std::printf("%s\n", Rule({24, 12, 12, 12, 10, 10}).c_str());
    g_cpuRows.clear();
    ThroughputRow("binary depth (432 B)", Form::Binary, s.binaryFrames, s.runs);
    ThroughputRow("text depth, 63 fields", Form::Text, s.textFrames, s.runs);
    std::printf(
        "\nReceiving thread's CPU time per frame (ns, thread CPU clock from the first frame to the last, "
        "medians of the same runs; raw-epoll in runs of its own)\n\n");
    std::printf("| %-24s | %9s | %9s | %9s | %10s | %12s |\n", "stream", "raw", "raw-epoll", "libmdlink",
                "lib / raw", "lib / epoll");
    std::printf("%s\n", Rule({24, 9, 9, 9, 10, 12}).c_str());
    for (const CpuRow& c : g_cpuRows)
        std::printf("| %-24s | %9.1f | %9.1f | %9.1f | %10.2f | %12.2f |\n", c.name, c.raw, c.epoll, c.lib,
                    c.raw > 0 ? c.lib / c.raw : 0, c.epoll > 0 ? c.lib / c.epoll : 0);
}

double Percentile(std::vector<std::int64_t>& v, double p)
{
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(i), v.end());
    return static_cast<double>(v[i]) / 1000.0;
}

// Latency samples of one receiver from a fresh paced sender.
std::vector<std::int64_t> Sample(Receiver receiver, const std::string& frames, long count, long warmup,
                                 long rate, const std::vector<std::string>& wrapper = {})
{
    const std::size_t frameSize = frames.size() / BlockFrames;
    const long total = count + warmup;
    Sender sender;
    sender.Pace(frames, frameSize, total, 1000000000L / rate);
    std::vector<std::int64_t> samples;
    // The polling receivers alike, each in a process of its own.
    if (receiver == Receiver::LowLatency || receiver == Receiver::RawPoll || !wrapper.empty())
        samples = ChildLatency(receiver, sender.Port(), total, warmup, wrapper);
    else if (receiver == Receiver::Library)
        samples = LibraryLatency(sender.Port(), total, warmup);
    else
        samples = PlainLatency(receiver, sender.Port(), total, warmup);
    sender.Wait();
    return samples;
}

const Receiver LatencyReceivers[] = {Receiver::Raw,   Receiver::RawEpoll, Receiver::RawPoll,
                                     Receiver::Naive, Receiver::Library,  Receiver::LowLatency};

// Each of the library's modes against the raw receiver that waits as it does.
struct Pairing {
    const char* name;
    Receiver library;
    Receiver raw;
};
const Pairing LatencyPairings[] = {
    {"libmdlink - raw-epoll (epoll)", Receiver::Library, Receiver::RawEpoll},
    {"low-latency - raw-poll (polling)", Receiver::LowLatency, Receiver::RawPoll},
    {"libmdlink - raw (blocking read)", Receiver::Library, Receiver::Raw},
};

void LatencyTable(const Scale& s, const std::string& csv)
{
    const std::string frames = DepthFrames(Form::Binary, BlockFrames);
    std::map<Receiver, std::vector<std::int64_t>> samples;
    // Taking turns, as for throughput.
    for (int i = 0; i < s.runs; ++i)
        for (Receiver r : LatencyReceivers) {
            std::vector<std::int64_t> v = Sample(r, frames, s.latencyFrames, s.latencyWarmup, s.latencyRate);
            samples[r].insert(samples[r].end(), v.begin(), v.end());
        }
    if (!csv.empty()) {
        std::ofstream out(csv);
        out << "receiver,microseconds\n";
        for (Receiver r : LatencyReceivers)
            for (std::int64_t ns : samples[r])
                out << Name(r) << ',' << static_cast<double>(ns) / 1000.0 << '\n';
    }
    std::printf("\nOne-way latency, wire to callback (µs; %d runs of %ld binary frames at %ld/s after %ld "
                "warm-up; low-latency: MDLINK_LOOP_POLL=1, loop pinned to the last CPU; raw-poll: "
                "non-blocking reads in a loop pinned there too)\n\n",
                s.runs, s.latencyFrames, s.latencyRate, s.latencyWarmup);
    std::printf("| %-24s | %8s | %8s | %8s | %9s | %9s |\n", "receiver", "p50", "p99", "p99.9", "p50 / raw",
                "p99 / raw");
    std::printf("%s\n", Rule({24, 8, 8, 8, 9, 9}).c_str());
    const double r50 = Percentile(samples[Receiver::Raw], 0.5),
                 r99 = Percentile(samples[Receiver::Raw], 0.99);
    for (Receiver r : LatencyReceivers) {
        const double p50 = Percentile(samples[r], 0.5), p99 = Percentile(samples[r], 0.99);
        const double p999 = Percentile(samples[r], 0.999);
        std::printf("| %-24s | %8.1f | %8.1f | %8.1f | %9.2f | %9.2f |\n", Name(r), p50, p99, p999, p50 / r50,
                    p99 / r99);
    }
    std::printf("\n| %-32s | %12s |\n", "p50 against raw, microseconds", "difference");
    std::printf("%s\n", Rule({32, 12}).c_str());
    for (const Pairing& p : LatencyPairings)
        std::printf("| %-32s | %+12.2f |\n", p.name,
                    Percentile(samples[p.library], 0.5) - Percentile(samples[p.raw], 0.5));
}

void MemoryTable(const Scale& s)
{
    std::printf("\nMemory\n\n");
    if (CanCountAllocations()) {
        const long measured = s.binaryFrames / 4;
        for (Form form : {Form::Binary, Form::Text}) {
            const std::string block = DepthFrames(form, BlockFrames);
            Sender sender;
            sender.Blast(block, (measured + 2 * BlockFrames) / BlockFrames);
            const long count = LibraryAllocations(sender.Port(), measured + BlockFrames, BlockFrames);
            std::printf("- heap allocations per %s frame on the loop thread: %.2f (%ld in %ld frames)\n",
                        form == Form::Binary ? "binary" : "text", static_cast<double>(count) / measured,
                        count, measured);
            sender.Wait();
        }
    } else {
        std::printf("- allocation counting needs glibc without sanitizers\n");
    }
    constexpr int Clients = 20;
    Sender sender;
    sender.Hold(Clients);
    const long kib = IdleClientsKiB(sender.Port(), Clients);
    std::printf("- resident memory of an idle connected client: %.0f KiB (%d clients added %ld KiB)\n",
                static_cast<double>(kib) / Clients, Clients, kib);
}

// strace's summary: system call name -> calls.
// Calls by name from strace -c -U name,calls,errors; successful: less the
// calls that failed (a non-blocking read that found nothing).
std::map<std::string, long> StraceCounts(const std::string& path, bool successful)
{
    std::map<std::string, long> counts;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        long calls = 0, errors = 0;
        if (!(fields >> name >> calls) || name == "total")
            continue;
        if (!(fields >> errors))
            errors = 0;
        counts[name] += successful ? calls - errors : calls;
    }
    return counts;
}

// Calls per frame of each receiver alone in a process: the difference
// between a long and a short run, so that starting the process counts for
// nothing. A polling receiver's calls that find nothing come with time, not
// with frames: for those only the reads that brought data count.
void SyscallTable(const Scale& s)
{
    const std::string frames = DepthFrames(Form::Binary, BlockFrames);
    std::printf("\nSystem calls per received frame (binary frames at %ld/s, each receiver alone in a process "
                "under strace -f; calls of a %ld-frame run less those of a %ld-frame run; the polling "
                "receivers: successful reads only)\n\n",
                s.syscallRate, s.syscallFrames + s.syscallFrames / 10, s.syscallFrames / 10);
    std::printf("| %-24s | %9s | %s\n", "receiver", "per frame", "the calls per frame");
    std::printf("%s\n", Rule({24, 9}).c_str());
    const Receiver receivers[] = {Receiver::Raw,   Receiver::RawEpoll, Receiver::RawPoll,
                                  Receiver::Naive, Receiver::Library,  Receiver::LowLatency};
    for (Receiver r : receivers) {
        const bool polling = r == Receiver::RawPoll || r == Receiver::LowLatency;
        std::map<std::string, long> runs[2];
        const long counts[2] = {s.syscallFrames / 10, s.syscallFrames + s.syscallFrames / 10};
        for (int i = 0; i < 2; ++i) {
            char path[] = "/tmp/bench_e2e_strace_XXXXXX";
            const int fd = mkstemp(path);
            if (fd < 0)
                throw std::runtime_error("cannot create a file for strace");
            close(fd);
            Sample(r, frames, counts[i], 0, s.syscallRate,
                   {"strace", "-f", "-c", "-U", "name,calls,errors", "-o", path});
            runs[i] = StraceCounts(path, polling);
            std::remove(path);
        }
        double total = 0;
        std::string detail;
        for (const auto& [name, calls] : runs[1]) {
            if (polling && name != "recvfrom" && name != "read" && name != "recvmsg")
                continue;
            const double perFrame =
                static_cast<double>(calls - runs[0][name]) / static_cast<double>(s.syscallFrames);
            if (perFrame < 0.005)
                continue;
            total += perFrame;
            char item[64];
            std::snprintf(item, sizeof item, "%s%s %.2f", detail.empty() ? "" : ", ", name.c_str(), perFrame);
            detail += item;
        }
        std::printf("| %-24s | %9.2f | %s\n", Name(r), total, detail.c_str());
    }
}

int Usage()
{
    std::fprintf(stderr, "usage: bench_e2e [--smoke] [--csv FILE] [throughput|latency|memory|syscalls]...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 7 && std::strcmp(argv[1], "--child") == 0)
        return RunChild(argv[2], std::atoi(argv[3]), std::atol(argv[4]), std::atol(argv[5]), argv[6]);

    Scale scale{2000000, 1000000, 20000, 1000, 20000, 5, 5000, 1000};
    std::string csv;
    std::vector<std::string> modes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            scale = Scale{20000, 10000, 2000, 200, 20000, 1, 500, 1000};
        else if (std::strcmp(argv[i], "--csv") == 0 && i + 1 < argc)
            csv = argv[++i];
        else if (argv[i][0] == '-')
            return Usage();
        else
            modes.push_back(argv[i]);
    }
    if (modes.empty())
        modes = {"throughput", "latency", "memory"};
    for (const std::string& mode : modes) {
        if (mode == "throughput")
            ThroughputTable(scale);
        else if (mode == "latency")
            LatencyTable(scale, csv);
        else if (mode == "memory")
            MemoryTable(scale);
        else if (mode == "syscalls")
            SyscallTable(scale);
        else
            return Usage();
        std::fflush(stdout);
    }
    return 0;
}
