// bench_redundant: what a second link gives an application, measured side
// by side with a single link in one run.
//   bench_redundant gap [--rate R] [--lag-ms L] [--seconds S]
//   bench_redundant latency [--rate R] [--jitter-ms J] [--seconds S]
//   bench_redundant rejoin [--rate R] [--jitter-ms J] [--restarts N] [--up-seconds U]
//                          [--silence-other 0|1]
#include "Bench.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: bench_redundant gap [--rate R] [--lag-ms L] [--seconds S]\n"
                 "       bench_redundant latency [--rate R] [--jitter-ms J] [--seconds S]\n"
                 "       bench_redundant rejoin [--rate R] [--jitter-ms J] [--restarts N]\n"
                 "                              [--up-seconds U] [--silence-other 0|1]\n");
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
    benchred::RejoinOptions rejoin;
    for (int i = 2; i + 1 < argc; i += 2) {
        const double v = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rate"))
            gap.rate = latency.rate = rejoin.rate = v;
        else if (!std::strcmp(argv[i], "--lag-ms"))
            gap.lagMs = v;
        else if (!std::strcmp(argv[i], "--jitter-ms"))
            latency.jitterMs = rejoin.jitterMs = v;
        else if (!std::strcmp(argv[i], "--restarts"))
            rejoin.restarts = static_cast<int>(v);
        else if (!std::strcmp(argv[i], "--up-seconds"))
            rejoin.upSeconds = v;
        else if (!std::strcmp(argv[i], "--silence-other"))
            rejoin.silenceOther = v != 0;
        else if (!std::strcmp(argv[i], "--seconds"))
            gap.afterSeconds = latency.seconds = v;
        else
            return Usage();
    }
    if (mode == "gap")
        return benchred::RunGap(gap);
    if (mode == "latency")
        return benchred::RunLatency(latency);
    if (mode == "rejoin")
        return benchred::RunRejoin(rejoin);
    return Usage();
}
