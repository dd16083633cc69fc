// Every interval the base services wait for (timer intervals, reconnect
// delays, the connect timeout) goes through ScaledDelay, so that a test build
// of the library can run long timelines quickly. The shipped library uses a
// divisor of 1; nothing is read from the environment.
#pragma once

#include <chrono>
#include <cstdint>

namespace kelvo {

// The divisor this library was built with (see TimeScale.cpp).
extern const std::int64_t kTimeDivisor;

inline std::chrono::nanoseconds ScaledDelay(std::uint64_t ms)
{
    const std::int64_t ns = static_cast<std::int64_t>(ms) * 1000000;
    return std::chrono::nanoseconds(kTimeDivisor == 1 ? ns : ns / kTimeDivisor);
}

}  // namespace kelvo
