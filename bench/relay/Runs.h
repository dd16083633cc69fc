// The runs bench_relay measures, each on servers and programs it starts:
//   RelayRate     mdrelay between a front sending as fast as it can and the
//                 stream: records stored a second, and records the library
//                 received a second inside the relay
//   LibraryRate   a plain application of the library on the same front
//   RelayLatency  one-way latency of paced, stamped records from the front
//                 through the relay and the stream to a consumer
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace benchrelay {

struct RelayFigures {
    double stored = 0;   // records a second, as the stream grew
    double received = 0; // records a second the relay's library client received
    bool keptUp = false; // nothing dropped, stored as fast as received
    // CPU time of the relay's threads but the library's, per record stored,
    // and of the library's loop thread per record received.
    double publishUsPerRecord = 0;
    double libraryUsPerRecord = 0;
};

// A fresh stream: the old one, if any, deleted; made with these flags.
bool FreshStream(const std::string& urls, const std::string& storage, int replicas);

RelayFigures RelayRate(const std::string& urls, const std::string& front,
                       const std::vector<std::string>& streamFlags, double warmup, double seconds,
                       const std::filesystem::path& dir);

double LibraryRate(const std::string& front, double warmup, double seconds);

// Latencies in ns of `count` records after `warmup`, sent intervalNs apart.
std::vector<std::int64_t> RelayLatency(const std::string& urls, const std::string& storage, bool lowLatency,
                                       long count, long warmup, long intervalNs,
                                       const std::filesystem::path& dir);
std::vector<std::int64_t> DirectLatency(long count, long warmup, long intervalNs);

} // namespace benchrelay
