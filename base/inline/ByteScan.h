// Scanning text sixteen bytes at a time: KELVO_SSE2 says whether the target
// has the instructions, LowestBit finds the first byte a compare mask marks.
// Header-only: the base library and the client both compile it.
#pragma once

#if defined(__SSE2__) || defined(_M_X64)
#define KELVO_SSE2 1
#include <emmintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace kelvo {

// mask != 0.
inline int LowestBit(unsigned mask)
{
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long bit;
    _BitScanForward(&bit, mask);
    return static_cast<int>(bit);
#else
    return __builtin_ctz(mask);
#endif
}

} // namespace kelvo
#endif
