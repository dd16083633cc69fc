// Decimal text to numbers, over a byte range that need not be terminated.
// Header only: compiled into the base library (Kelvo_String::ToFloat and
// ToInt) and into the client's text-record decoder, which must give exactly
// the same numbers without copying each field into a Kelvo_String first.
#pragma once

#include "DecimalRead.h"

#include <cstdint>
#include <system_error>

namespace kelvo {

// Blanks and tabs, then one '+'.
inline const char* SkipLead(const char* p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p < end && *p == '+')
        ++p;
    return p;
}

// Prices arrive as short decimals ("612.34"). When all their digits fit in
// a double's 53-bit mantissa and the scale is an exact power of ten, one
// division gives the correctly rounded value, the same as from_chars, at a
// fraction of its cost. Anything else (exponents, long digit strings) is
// left to from_chars.
inline bool ShortDecimal(const char* p, const char* end, double& out)
{
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr std::uint64_t exact = std::uint64_t(1) << 53;
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    std::uint64_t mantissa = 0;
    int scale = 0;
    bool digits = false;
    bool fraction = false;
    for (; p < end; ++p) {
        if (*p == '.' && !fraction) {
            fraction = true;
            continue;
        }
        if (*p < '0' || *p > '9')
            break;
        if (mantissa > exact / 10)
            return false;
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        scale += fraction;
        digits = true;
    }
    if (!digits || mantissa > exact || scale > 22 || (p < end && (*p == 'e' || *p == 'E')))
        return false;
    const double value = static_cast<double>(mantissa) / powers[scale];
    out = negative ? -value : value;
    return true;
}

// The floating-point number the text starts with (after SkipLead); 0 when
// it starts with none or the number is out of range.
inline double TextToFloat(const char* p, const char* end)
{
    p = SkipLead(p, end);
    double value = 0;
    if (ShortDecimal(p, end, value))
        return value;
    if (ReadDouble(p, end, value).ec != std::errc())
        return 0;
    return value;
}

// The integer in the given base (2 to 36) the text starts with, after blanks
// and one sign; saturated to the int range, never wrapped. 0 for another base.
inline int TextToInt(const char* p, const char* end, int base)
{
    if (base < 2 || base > 36)
        return 0;
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
        negative = *p++ == '-';
    // Accumulates past the int range only to saturate there.
    const long long limit = negative ? 2147483648LL : 2147483647LL;
    long long value = 0;
    for (; p < end; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (*p >= 'a' && *p <= 'z')
            digit = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'Z')
            digit = *p - 'A' + 10;
        else
            break;
        if (digit >= base)
            break;
        value = value * base + digit;
        if (value > limit)
            value = limit;
    }
    return static_cast<int>(negative ? -value : value);
}

} // namespace kelvo
