// The only translation unit that differs between the shipped library and the
// test variant built with a shorter time scale.
#include "TimeScale.h"

#ifndef KELVO_TIME_DIVISOR
#define KELVO_TIME_DIVISOR 1
#endif

static_assert(KELVO_TIME_DIVISOR >= 1, "KELVO_TIME_DIVISOR must be positive");

namespace kelvo {

const std::int64_t kTimeDivisor = KELVO_TIME_DIVISOR;

}  // namespace kelvo
