// bench_redundant: what a second link gives an application, measured side
// by side with a single link in one run.
//   bench_redundant gap [--rate R] [--lag-ms L] [--seconds S]
//   bench_redundant latency [--rate R] [--jitter-ms J] [--seconds S]
#include "Bench.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: bench_redundant gap [--rate R] [--lag-ms L] [--seconds S]\n"
                         "       bench_redundant latency [--rate R] [--jitter-ms J] [--seconds S]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // The links are the shared library's plain clients.
    unsetenv("MDLINK_LINKS");
    if (argc < 2)
        return Usage();
    const std::string mode = argv[1];
    benchred::GapOptions gap;
    benchred::LatencyOptions latency;
    for (int i = 2; i + 1 < argc; i += 2) {
        const double v = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rate"))
            gap.rate = latency.rate = v;
        else if (!std::strcmp(argv[i], "--lag-ms"))
            gap.lagMs = v;
        else if (!std::strcmp(argv[i], "--jitter-ms"))
            latency.jitterMs = v;
        else if (!std::strcmp(argv[i], "--seconds"))
            gap.afterSeconds = latency.seconds = v;
        else
            return Usage();
    }
    if (mode == "gap")
        return benchred::RunGap(gap);
    if (mode == "latency")
        return benchred::RunLatency(latency);
    return Usage();
}
