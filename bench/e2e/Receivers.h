// The receivers compared, all taking depth frames from the benchmark sender:
//   Raw         a plain blocking socket read in 64 KiB chunks, the frames
//               walked in place, no library: what the machine can do
//   Naive       two blocking reads per frame, header then body: a simple
//               reading of the receive steps
//   RawEpoll    the raw receiver as an event loop has to be: a non-blocking
//               socket, epoll_wait, then reads until the socket is empty
//   RawPoll     non-blocking reads in a loop on a pinned CPU, never asleep:
//               the lowest latency the machine allows
//   Library     libmdlink, whose OnRtnDepthMarketData counts or samples
//   LowLatency  libmdlink with its loop thread polling on a pinned CPU
//               (MDLINK_LOOP_POLL, MDLINK_LOOP_CPU), in a child process,
//               since the loop reads them when it starts
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

enum class Receiver { Raw, Naive, Library, LowLatency, RawEpoll, RawPoll };

const char* Name(Receiver receiver);
// False for an unknown name.
bool FromName(const std::string& name, Receiver& receiver);

struct Throughput {
    long frames = 0;
    double seconds = 0;    // first frame to last
    double cpuSeconds = 0; // of the receiving thread, over the same frames
    double FramesPerSecond() const { return seconds > 0 ? (frames - 1) / seconds : 0; }
    double CpuNsPerFrame() const
    {
        return frames > 1 ? cpuSeconds * 1e9 / static_cast<double>(frames - 1) : 0;
    }
};

// The CPU the polling receivers keep busy (the library's loop in the
// low-latency mode, RawPoll): the last one, the sender's busy thread is left
// the others.
int PollCpu();

// Raw, Naive, RawEpoll and RawPoll; decode: text bodies go through the
// reference decoder.
Throughput PlainThroughput(Receiver receiver, int port, long frames, bool decode);
Throughput LibraryThroughput(int port, long frames);

// One-way latencies (ns) of frames stamped by a paced sender; the first
// warmup frames are not kept.
std::vector<std::int64_t> PlainLatency(Receiver receiver, int port, long frames, long warmup);
std::vector<std::int64_t> LibraryLatency(int port, long frames, long warmup);
// Any receiver, in a child process of its own (LowLatency always is); the
// command is prefixed with wrapper (strace, say) when given.
std::vector<std::int64_t> ChildLatency(Receiver receiver, int port, long frames, long warmup,
                                       const std::vector<std::string>& wrapper = {});
// The child's side: receives and writes the samples to path; the exit status.
int RunChild(const std::string& receiver, int port, long frames, long warmup, const std::string& path);

// Heap allocations the loop thread makes for frames depth frames, after
// warmup frames.
long LibraryAllocations(int port, long frames, long warmup);

// Resident memory that clients idle clients, connected to port, add (KiB).
long IdleClientsKiB(int port, int clients);

} // namespace bench
