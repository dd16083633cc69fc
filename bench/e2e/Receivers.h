// The two receivers compared: a raw one (a plain blocking socket reading
// 64 KiB chunks and walking the frames, no library) and the library, whose
// OnRtnDepthMarketData counts or samples.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

struct Throughput {
    long frames = 0;
    double seconds = 0; // first frame to last
    double FramesPerSecond() const { return seconds > 0 ? (frames - 1) / seconds : 0; }
};

// Receives frames depth frames from the sender on port.
Throughput RawThroughput(int port, long frames);
Throughput LibraryThroughput(int port, long frames);

// One-way latencies (ns) of frames stamped by a paced sender; the first
// warmup frames are not kept.
std::vector<std::int64_t> RawLatency(int port, long frames, long warmup);
std::vector<std::int64_t> LibraryLatency(int port, long frames, long warmup);

// Heap allocations the loop thread makes for frames depth frames, after
// warmup frames.
long LibraryAllocations(int port, long frames, long warmup);

// Resident memory that clients idle clients, connected to port, add (KiB).
long IdleClientsKiB(int port, int clients);

} // namespace bench
