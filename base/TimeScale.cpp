// The only translation unit that differs between the shipped library and the
// test variant built with a shorter time scale.
#include "TimeScale.h"

#ifndef KELVO_TIME_DIVISOR
#define KELVO_TIME_DIVISOR 1
#endif

static_assert(KELVO_TIME_DIVISOR >= 1, "KELVO_TIME_DIVISOR must be positive");
// So that a scaled millisecond is a whole number of nanoseconds.
static_assert(1000000 % KELVO_TIME_DIVISOR == 0, "KELVO_TIME_DIVISOR must divide 1000000");

namespace kelvo {

const std::int64_t kScaledNsPerMs = 1000000 / KELVO_TIME_DIVISOR;

} // namespace kelvo
