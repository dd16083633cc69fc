// The text std::to_chars(double) writes (the shortest digits that read back
// to the same value, in fixed or scientific form, whichever is shorter, fixed
// on a tie), also where the standard library has no floating-point to_chars
// (libstdc++ before 11). There the digits come from {fmt}, which finds the
// same shortest, closest digits; only the layout is done here.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// MDTOOLS_FMT_DOUBLE also builds the fmt form where it is not used, to
// compare the two.
#if defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE < 11
#define MDTOOLS_FMT_DOUBLE 1
#endif
#ifdef MDTOOLS_FMT_DOUBLE
#ifndef FMT_HEADER_ONLY
#define FMT_HEADER_ONLY
#endif
#include <fmt/format.h>
#endif

namespace mdtools {

#ifdef MDTOOLS_FMT_DOUBLE
// Writes at most 32 characters at out; returns the end.
inline char* ShortestDoubleFmt(char* out, double v)
{
    const bool negative = std::signbit(v);
    if (negative)
        *out++ = '-';
    const auto put = [&out](const char* text) {
        const std::size_t n = std::strlen(text);
        std::memcpy(out, text, n);
        return out + n;
    };
    if (std::isnan(v))
        return put("nan");
    if (std::isinf(v))
        return put("inf");
    if (v == 0)
        return put("0");
    v = std::fabs(v);

    // fmt writes the shortest digits as "123.45", "0.0001" or "1.2e+20":
    // gather them without the leading and trailing zeros, and the power of
    // ten of the last one.
    char text[40];
    const auto written = fmt::format_to_n(text, sizeof text - 1, "{}", v);
    const std::size_t size = written.size < sizeof text - 1 ? written.size : sizeof text - 1;
    const char* const end = text + size;
    text[size] = 0;
    char digits[24];
    int n = 0;
    int exponent = 0; // value = digits * 10^exponent
    bool fraction = false;
    const char* p = text;
    for (; p < end && *p != 'e'; ++p) {
        if (*p == '.') {
            fraction = true;
            continue;
        }
        if (n == 0 && *p == '0') {
            exponent -= fraction;
            continue;
        }
        digits[n++] = *p;
        exponent -= fraction;
    }
    if (p < end)
        exponent += std::atoi(p + 1);
    while (n > 1 && digits[n - 1] == '0') {
        --n;
        ++exponent;
    }

    const int point = n + exponent;   // digits before the decimal point
    const int scientific = point - 1; // exponent of d.ddd form
    const int magnitude = scientific < 0 ? -scientific : scientific;
    const int sciLength = n + (n > 1) + 2 + (magnitude >= 100 ? 3 : 2);
    const int fixedLength = exponent >= 0 ? n + exponent : point > 0 ? n + 1 : 2 - point + n;
    if (fixedLength <= sciLength) {
        if (exponent >= 0) {
            // An integer: to_chars writes its exact value, not the shortest
            // digits padded with zeros; glibc's %.0f is exact.
            const int m = std::snprintf(out, 32, "%.0f", v);
            return out + m;
        }
        if (point > 0) {
            std::memcpy(out, digits, point);
            out += point;
            *out++ = '.';
            std::memcpy(out, digits + point, n - point);
            return out + (n - point);
        }
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -point; ++i)
            *out++ = '0';
        std::memcpy(out, digits, n);
        return out + n;
    }
    *out++ = digits[0];
    if (n > 1) {
        *out++ = '.';
        std::memcpy(out, digits + 1, n - 1);
        out += n - 1;
    }
    *out++ = 'e';
    *out++ = scientific < 0 ? '-' : '+';
    if (magnitude >= 100)
        *out++ = static_cast<char>('0' + magnitude / 100);
    *out++ = static_cast<char>('0' + magnitude / 10 % 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
    return out;
}
#endif

// Writes the shortest round-trip text of v at out (room for 32 characters
// needed); returns the end.
inline char* ShortestDouble(char* out, double v)
{
#if defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE < 11
    return ShortestDoubleFmt(out, v);
#else
    return std::to_chars(out, out + 32, v).ptr;
#endif
}

} // namespace mdtools
