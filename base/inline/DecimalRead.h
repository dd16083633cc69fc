// Decimal text to double with the results of std::from_chars, also where the
// standard library has no floating-point from_chars (libstdc++ before 11,
// the compiler of the older distributions the release build targets). There
// the same parse comes from fast_float, which implements the same algorithm.
#pragma once

#include <charconv>
#include <cmath>
#include <system_error>

// KELVO_FAST_FLOAT_READ also builds the fast_float form where it is not
// used, to compare the two.
#if defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE < 11
#define KELVO_FAST_FLOAT_READ 1
#endif
#ifdef KELVO_FAST_FLOAT_READ
#include <fast_float/fast_float.h>
#endif

namespace kelvo {

#ifdef KELVO_FAST_FLOAT_READ
// fast_float rounds an overflow to infinity and an underflow to zero without
// saying so; from_chars reports both as out of range and leaves the value
// alone. Told apart afterwards: an infinity not spelled "inf", a zero from
// a non-zero digit.
inline std::from_chars_result ReadDoubleFastFloat(const char* first, const char* last, double& value)
{
    double v = 0;
    const auto r = fast_float::from_chars(first, last, v);
    if (r.ec != std::errc())
        return {r.ptr, r.ec};
    const char* p = first + (*first == '-');
    bool outOfRange = false;
    if (std::isinf(v)) {
        outOfRange = *p != 'i' && *p != 'I';
    } else if (v == 0) {
        for (; p < r.ptr && *p != 'e' && *p != 'E' && !outOfRange; ++p)
            outOfRange = *p >= '1' && *p <= '9';
    }
    if (outOfRange)
        return {r.ptr, std::errc::result_out_of_range};
    value = v;
    return {r.ptr, std::errc()};
}
#endif

inline std::from_chars_result ReadDouble(const char* first, const char* last, double& value)
{
#if defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE < 11
    return ReadDoubleFastFloat(first, last, value);
#else
    return std::from_chars(first, last, value);
#endif
}

} // namespace kelvo
