// Every interval the base services wait for (timer intervals, reconnect
// delays, the connect timeout) goes through ScaledDelay, so that a test build
// of the library can run long timelines quickly. The shipped library uses a
// divisor of 1; nothing is read from the environment.
#pragma once

#include <chrono>
#include <cstdint>

namespace kelvo {

// Nanoseconds one requested millisecond lasts in this library (see
// TimeScale.cpp): a multiplication per timer armed, never a division.
extern const std::int64_t kScaledNsPerMs;

inline std::chrono::nanoseconds ScaledDelay(std::uint64_t ms)
{
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ms) * kScaledNsPerMs);
}

} // namespace kelvo
