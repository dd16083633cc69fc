// bench_e2e: what the library costs against what the machine can do, measured
// in one run on loopback.
//   throughput  frames per second, raw receiver against libmdlink, binary and text
//   latency     one-way wire-to-callback latency of paced frames, p50/p99/p99.9
//   memory      heap allocations per frame on the loop thread, resident memory
//               of an idle client
// Usage: bench_e2e [--smoke] [throughput|latency|memory]...
#include "Allocations.h"
#include "Receivers.h"
#include "Sender.h"
#include "Stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace bench;

struct Scale {
    long binaryFrames, textFrames, latencyFrames, latencyWarmup, latencyRate;
    int runs;
};

constexpr int BlockFrames = 1000;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Rate of one receiver taking frames from a fresh blasting sender.
template <class Receive>
double FramesPerSecond(const std::string& block, long frames, Receive receive)
{
    Sender sender;
    sender.Blast(block, frames / BlockFrames);
    const double rate = receive(sender.Port(), frames).FramesPerSecond();
    sender.Wait();
    return rate;
}

// The two receivers take turns, so that the machine's drift during the run
// (this is a shared virtual machine) falls on both alike; medians are shown.
void ThroughputRow(const char* name, Form form, long frames, int runs)
{
    const std::string block = DepthFrames(form, BlockFrames);
    std::vector<double> raw, lib;
    for (int i = 0; i < runs; ++i) {
        raw.push_back(FramesPerSecond(block, frames, RawThroughput));
        lib.push_back(FramesPerSecond(block, frames, LibraryThroughput));
    }
    const double r = Median(raw), l = Median(lib);
    std::printf("| %-26s | %12.0f | %12.0f | %6.2f |\n", name, r, l, l / r);
}

void ThroughputTable(const Scale& s)
{
    std::printf("\nThroughput (frames per second, median of %d runs each, taking turns; a sender thread blasts frames on loopback)\n\n", s.runs);
    std::printf("| %-26s | %12s | %12s | %6s |\n", "stream", "raw receiver", "libmdlink", "ratio");
    std::printf("|%s|%s|%s|%s|\n", std::string(28, '-').c_str(), std::string(14, '-').c_str(),
                std::string(14, '-').c_str(), std::string(8, '-').c_str());
    ThroughputRow("binary depth (432 B)", Form::Binary, s.binaryFrames, s.runs);
    ThroughputRow("text depth, 63 fields", Form::Text, s.textFrames, s.runs);
}

double Percentile(std::vector<std::int64_t>& v, double p)
{
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(i), v.end());
    return static_cast<double>(v[i]) / 1000.0;
}

// Latency samples of one receiver from a fresh paced sender.
template <class Receive>
void Sample(const std::string& frames, const Scale& s, std::vector<std::int64_t>& out, Receive receive)
{
    const std::size_t frameSize = frames.size() / BlockFrames;
    const long total = s.latencyFrames + s.latencyWarmup;
    Sender sender;
    sender.Pace(frames, frameSize, total, 1000000000L / s.latencyRate);
    const std::vector<std::int64_t> samples = receive(sender.Port(), total, s.latencyWarmup);
    out.insert(out.end(), samples.begin(), samples.end());
}

void LatencyTable(const Scale& s)
{
    const std::string frames = DepthFrames(Form::Binary, BlockFrames);
    std::vector<std::int64_t> raw, lib;
    // Taking turns, as for throughput.
    for (int i = 0; i < s.runs; ++i) {
        Sample(frames, s, raw, RawLatency);
        Sample(frames, s, lib, LibraryLatency);
    }
    std::printf("\nOne-way latency, wire to callback (µs; %d runs of %ld binary frames at %ld/s after %ld warm-up)\n\n",
                s.runs, s.latencyFrames, s.latencyRate, s.latencyWarmup);
    std::printf("| %-26s | %8s | %8s | %8s |\n", "receiver", "p50", "p99", "p99.9");
    std::printf("|%s|%s|%s|%s|\n", std::string(28, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str());
    const double r50 = Percentile(raw, 0.5), r99 = Percentile(raw, 0.99), r999 = Percentile(raw, 0.999);
    const double l50 = Percentile(lib, 0.5), l99 = Percentile(lib, 0.99), l999 = Percentile(lib, 0.999);
    std::printf("| %-26s | %8.1f | %8.1f | %8.1f |\n", "raw blocking socket", r50, r99, r999);
    std::printf("| %-26s | %8.1f | %8.1f | %8.1f |\n", "libmdlink", l50, l99, l999);
    std::printf("| %-26s | %+8.1f | %8.2f | %8.2f |\n", "libmdlink - raw / ratio", l50 - r50, l99 / r99,
                l999 / r999);
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

} // namespace

int main(int argc, char** argv)
{
    Scale scale{2000000, 1000000, 20000, 1000, 20000, 5};
    std::vector<std::string> modes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            scale = Scale{20000, 10000, 2000, 200, 20000, 1};
        else
            modes.push_back(argv[i]);
    }
    if (modes.empty())
        modes = {"throughput", "latency", "memory"};
    for (const std::string& mode : modes) {
        if (mode == "throughput")
            ThroughputTable(scale);
        else if (mode == "latency")
            LatencyTable(scale);
        else if (mode == "memory")
            MemoryTable(scale);
        else {
            std::fprintf(stderr, "usage: bench_e2e [--smoke] [throughput|latency|memory]...\n");
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
