// The number conversions used where the standard library has no
// floating-point from_chars/to_chars (fast_float and fmt based) must give
// exactly what the standard ones give: compared here, where both exist.
#define KELVO_FAST_FLOAT_READ 1
#define MDTOOLS_FMT_DOUBLE 1
#include "DecimalRead.h"
#include "ShortestDouble.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

std::uint64_t Next(std::uint64_t& x)
{
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
}

double FromBits(std::uint64_t bits)
{
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::string StdText(double v)
{
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string FmtText(double v)
{
    char buf[64];
    return std::string(buf, mdtools::ShortestDoubleFmt(buf, v));
}

void ExpectSameRead(const std::string& text)
{
    const char* first = text.data();
    const char* last = first + text.size();
    double expected = -7.25;
    double actual = -7.25;
    const auto e = std::from_chars(first, last, expected);
    const auto a = kelvo::ReadDoubleFastFloat(first, last, actual);
    ASSERT_EQ(static_cast<int>(a.ec), static_cast<int>(e.ec)) << text;
    ASSERT_EQ(a.ptr - first, e.ptr - first) << text;
    if (std::isnan(expected)) {
        ASSERT_TRUE(std::isnan(actual)) << text;
        ASSERT_EQ(std::signbit(actual), std::signbit(expected)) << text;
    } else {
        ASSERT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0) << text;
    }
}

TEST(DecimalRead, EdgeCasesReadAsFromChars)
{
    const char* texts[] = {// overflow, underflow and the subnormal boundary
                           "1e400", "-1e400", "1e-400", "-1e-400", "2e-324", "2.4703282292062327e-324",
                           "2.4703282292062328e-324", "3e-324", "4.9e-324", "1.5e-310",
                           "1.7976931348623157e308", "1.7976931348623159e308", "0e999999", "-0e-999999",
                           "0.000e5", "1e-99999999999", "1e99999999999", "00000000000000000000000000001e-400",
                           // infinities and NaNs, in both cases and with a payload
                           "inf", "-inf", "INF", "infinity", "Infinity", "infx", "infinit", "nan", "-nan",
                           "NaN", "nan(123)", "nan(abc_9)", "nan(", "nan)",
                           // where the number stops
                           "1e", "1e+", "1e-x", "1.", ".5", "-.5", ".", "-", "", "+1", "++1", "0x1p3", "1,5",
                           " 1", "abc", "12.5x", "1.5E3", "1.5e+03",
                           // long digit strings, which take the slow exact path
                           "0.30000000000000004", "9007199254740993",
                           "9007199254740993.0000000000000000000001", "2.2250738585072011e-308",
                           "2.2250738585072012e-308",
                           "1.00000000000000011102230246251565404236316680908203125",
                           "1.00000000000000011102230246251565404236316680908203124",
                           "123456789012345678901234567890123456789012345678901234567890e-40"};
    for (const char* text : texts)
        ExpectSameRead(text);
}

TEST(DecimalRead, ShortestTextsOfRandomValuesReadAsFromChars)
{
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 20000; ++i) {
        const double v = FromBits(Next(x));
        ExpectSameRead(StdText(v));
        // One digit more and one less than the shortest form: off the
        // round trip, so the rounding itself is compared.
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17e", v);
        ExpectSameRead(buf);
        std::snprintf(buf, sizeof buf, "%.15e", v);
        ExpectSameRead(buf);
    }
}

TEST(ShortestDouble, EdgeCasesWriteAsToChars)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {0.0, -0.0, inf, -inf, nan, -nan, 1.0, -1.0, 0.1, 100.0, 123.456, 612.34, -8.5,
                             // fixed and scientific of equal length: fixed wins
                             1e-4, 1e-5, 1.5e-5, 12e-6, 1e4, 1e5, 1e15, 1e16, 1e20, 1e21, 1e22, 1e23, 123e18,
                             // integers beyond 2^53: written exactly, not as shortest digits
                             9007199254740992.0, 9007199254740994.0, 1152921504606846976.0,
                             123456789012345683968.0, std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::epsilon(), -std::numeric_limits<double>::max(),
                             1e100, 1e-100, 1.7e308, 2.5e-308, 0.30000000000000004};
    for (double v : values)
        EXPECT_EQ(FmtText(v), StdText(v)) << std::hexfloat << v;
}

TEST(ShortestDouble, RandomValuesWriteAsToChars)
{
    std::uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 100000; ++i) {
        // Any bit pattern; then decimal-looking prices and integers, whose
        // fixed and scientific forms are close in length.
        const std::uint64_t r = Next(x);
        const double values[] = {
            FromBits(r), static_cast<double>(r % 100000000) / 100.0, static_cast<double>(r >> (r % 64)),
            static_cast<double>(r % 1000) * std::pow(10.0, static_cast<int>(r % 41) - 20)};
        for (double v : values)
            ASSERT_EQ(FmtText(v), StdText(v)) << std::hexfloat << v;
    }
}

} // namespace
