// The frames the benchmark sender puts on the wire: realistic depth records
// from the simulator's random walk, in binary or text form, and the send-time
// stamp the latency mode carries in each binary record.
#pragma once

#include "MdApi.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace bench {

enum class Form { Binary, Text };

// count frames back to back, cycling over a few instruments.
std::string DepthFrames(Form form, int count);

// Where a binary frame carries its send time: a member no front fills.
constexpr std::size_t StampOffset = 24 + offsetof(CThostFtdcDepthMarketDataField, PreDelta);

// CPU time of the calling thread: what a receiver costs, whatever the
// sender on the other core could deliver.
inline std::int64_t ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

inline std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace bench
