// The base layer's strings, field splitting and addresses.
#include "KelvoBase.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Of(const Kelvo_String& s)
{
    return std::string(s.c_str(), static_cast<std::size_t>(s.length()));
}

TEST(KelvoString, StartsEmptyAndTerminated)
{
    Kelvo_String s;
    EXPECT_EQ(s.length(), 0);
    EXPECT_STREQ(s.c_str(), "");
    EXPECT_STREQ(static_cast<const char*>(s), "");
    EXPECT_EQ(s.truncate_right(1), 0) << "harmless on empty text";
}

TEST(KelvoString, CopyAndAppendAreBinarySafe)
{
    Kelvo_String s;
    const char bytes[] = {'a', 0, 'b', 0};
    EXPECT_EQ(s.memcpy(bytes, 3), 3);
    EXPECT_EQ(s.memcat(bytes, 4), 7);
    EXPECT_EQ(Of(s), std::string("a\0ba\0b\0", 7));
    EXPECT_EQ(s.c_str()[7], 0) << "terminated behind its length";
    EXPECT_EQ(s.memcpy("xy", 2), 2);
    EXPECT_EQ(Of(s), "xy");
    EXPECT_EQ(s.memcpy(nullptr, 0), 0);
    EXPECT_EQ(s.memcat(nullptr, 3), -1);
}

TEST(KelvoString, GrowsAcrossManyAppendsAndAppendsToItself)
{
    Kelvo_String s;
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        s.sprintf_append("%d,", i);
        expected += std::to_string(i) + ",";
    }
    EXPECT_EQ(Of(s), expected);
    s.memcat(s.c_str(), s.length());
    EXPECT_EQ(Of(s), expected + expected);
    s.memcpy(s.c_str() + 1, 3);
    EXPECT_EQ(Of(s), expected.substr(1, 3));
}

TEST(KelvoString, FormattedAppendsOfAnyLength)
{
    Kelvo_String s;
    const std::string big(1000, 'q');
    s.sprintf_append("%s|%d", "ab", 7);
    s.sprintf_append("%s", big.c_str());
    EXPECT_EQ(Of(s), "ab|7" + big);
}

TEST(KelvoString, AddTruncateAndReset)
{
    Kelvo_String s("ab");
    EXPECT_EQ(s.addch('|', 1), 3);
    EXPECT_EQ(s.addch('-', 3), 6);
    EXPECT_EQ(Of(s), "ab|---");
    EXPECT_EQ(s.truncate_right(1), 5);
    EXPECT_EQ(Of(s), "ab|--");
    EXPECT_EQ(s.truncate_right(10), 0);
    s.memcpy("again", 5);
    s.Reset();
    EXPECT_EQ(s.length(), 0);
    EXPECT_STREQ(s.c_str(), "");
}

TEST(KelvoString, StrncpyTakesAtMostNBytesAndStopsAtAZero)
{
    Kelvo_String s;
    EXPECT_EQ(s.strncpy("abcdef", 3), 3);
    EXPECT_STREQ(s.c_str(), "abc");
    EXPECT_EQ(s.strncpy("ab\0cd", 5), 2);
    EXPECT_STREQ(s.c_str(), "ab");
    const char unterminated[4] = {'w', 'x', 'y', 'z'};
    EXPECT_EQ(s.strncpy(unterminated, 4), 4);
    EXPECT_STREQ(s.c_str(), "wxyz");
    EXPECT_EQ(s.strncpy(nullptr, 4), 0);
}

TEST(KelvoString, CopiesAreIndependent)
{
    Kelvo_String a("one");
    Kelvo_String b(a);
    b.memcat("!", 1);
    Kelvo_String c;
    c = b;
    c.truncate_right(2);
    EXPECT_EQ(Of(a), "one");
    EXPECT_EQ(Of(b), "one!");
    EXPECT_EQ(Of(c), "on");
    Kelvo_String& alias = c;
    c = alias;
    EXPECT_EQ(Of(c), "on");
}

TEST(KelvoString, DecimalConversions)
{
    EXPECT_EQ(Kelvo_String("12.5").ToFloat(), 12.5);
    EXPECT_EQ(Kelvo_String("-0.125").ToFloat(), -0.125);
    EXPECT_EQ(Kelvo_String(" +1e3").ToFloat(), 1000.0);
    EXPECT_EQ(Kelvo_String("x1").ToFloat(), 0.0);
    EXPECT_EQ(Kelvo_String("").ToFloat(), 0.0);
    EXPECT_EQ(Kelvo_String("42").ToInt(10), 42);
    EXPECT_EQ(Kelvo_String("-7abc").ToInt(10), -7);
    EXPECT_EQ(Kelvo_String("ff").ToInt(16), 255);
    EXPECT_EQ(Kelvo_String("3000000000").ToInt(10), 2147483647);
    EXPECT_EQ(Kelvo_String("-3000000000").ToInt(10), -2147483647 - 1);
    EXPECT_EQ(Kelvo_String("12").ToInt(1), 0);
}

TEST(KelvoString, DecimalTextReadsExactlyAsTheStandardConversion)
{
    // Short decimals take a fast path; it must agree bit for bit with
    // from_chars, also next to the 53-bit and 10^22 limits.
    std::vector<std::string> texts = {"0",
                                      "-0",
                                      "0.1",
                                      "612.34",
                                      "-8.5",
                                      "1.",
                                      ".5",
                                      "007.250",
                                      "9007199254740991",
                                      "9007199254740993",
                                      "90071992547409921",
                                      "0.30000000000000004",
                                      "1234567.891011",
                                      "1e3",
                                      "12.5x",
                                      "0.0000000000000000000001",
                                      "0.00000000000000000000001"};
    std::uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 20000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const std::string digits = std::to_string(x % 100000000000000000ull);
        const std::size_t dot = x % (digits.size() + 1);
        texts.push_back(digits.substr(0, dot) + "." + digits.substr(dot));
    }
    for (const std::string& text : texts) {
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        const double actual = Kelvo_String(text.c_str()).ToFloat();
        ASSERT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0) << text;
    }
}

TEST(KelvoStringArray, KeepsEmptyFieldsInTheirPlaces)
{
    Kelvo_StringArray a;
    EXPECT_EQ(a.Split("a\x01\x01"
                      "b\x01",
                      '\x01', 0),
              4);
    EXPECT_EQ(a.GetSize(), 4);
    EXPECT_EQ(Of(a[0]), "a");
    EXPECT_EQ(Of(a[1]), "");
    EXPECT_EQ(Of(a[2]), "b");
    EXPECT_EQ(Of(a[3]), "");
    EXPECT_STREQ(a[2].c_str(), "b") << "each field is terminated in place";
    EXPECT_EQ(a[-1].length(), 0);
    EXPECT_EQ(a[4].length(), 0);
    EXPECT_STREQ(a[1000].c_str(), "");
}

TEST(KelvoStringArray, EmptyTextNullTextAndSkippingEmptyFields)
{
    Kelvo_StringArray a;
    EXPECT_EQ(a.Split("", '|', 0), 1);
    EXPECT_EQ(a.Split(nullptr, '|', 0), 0);
    EXPECT_EQ(a[0].length(), 0);
    EXPECT_EQ(a.Split("|x||y|", '|', KELVO_SPLIT_SKIP_EMPTY), 2);
    EXPECT_EQ(Of(a[0]), "x");
    EXPECT_EQ(Of(a[1]), "y");
}

TEST(KelvoStringArray, LargeRecordsAndManyFieldsSpillToTheHeap)
{
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += (i ? "," : "") + std::to_string(i * 7);
    Kelvo_StringArray a;
    ASSERT_EQ(a.Split(text.c_str(), ',', 0), 500);
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(a[i].ToInt(10), i * 7);
    // Reused for a smaller record afterwards.
    EXPECT_EQ(a.Split("p;q", ';', 0), 2);
    EXPECT_EQ(Of(a[1]), "q");
    EXPECT_EQ(a[2].length(), 0);
}

TEST(KelvoStringArray, AgreesWithANaiveSplitAtEveryLengthAndPosition)
{
    // Separators at every offset around the 16-byte steps of the scan.
    for (int length = 0; length <= 40; ++length) {
        for (int pattern = 0; pattern < 7; ++pattern) {
            std::string text;
            for (int i = 0; i < length; ++i)
                text += (i * 7 + pattern) % (pattern + 2) == 0 ? '\x01' : static_cast<char>('a' + i % 26);
            std::vector<std::string> expected(1);
            for (char c : text) {
                if (c == '\x01')
                    expected.emplace_back();
                else
                    expected.back() += c;
            }
            Kelvo_StringArray a;
            ASSERT_EQ(a.Split(text.c_str(), '\x01', 0), static_cast<int>(expected.size())) << text;
            for (std::size_t i = 0; i < expected.size(); ++i)
                ASSERT_EQ(Of(a[static_cast<int>(i)]), expected[i]) << length << "/" << pattern;
        }
    }
}

TEST(KelvoStringArray, FieldsCopiedOutAreOrdinaryStrings)
{
    Kelvo_String copy;
    {
        Kelvo_StringArray a;
        a.Split("first;second", ';', 0);
        copy = a[1];
    }
    copy.memcat("!", 1);
    EXPECT_EQ(Of(copy), "second!");
}

TEST(KelvoSocketAddr, KeepsHostAndPortWithinBounds)
{
    Kelvo_SocketAddr addr;
    EXPECT_EQ(addr.Init("10.1.2.3", 7000), 0);
    EXPECT_STREQ(addr.GetAddr(), "10.1.2.3");
    EXPECT_EQ(addr.GetPort(), 7000);
    EXPECT_EQ(addr.Init(std::string(127, 'h').c_str(), 0), 0);
    EXPECT_EQ(addr.Init(std::string(128, 'h').c_str(), 1), -1);
    EXPECT_EQ(addr.Init("h", 65536), -1);
    EXPECT_EQ(addr.Init("h", -1), -1);
    EXPECT_EQ(addr.Init(nullptr, 1), -1);
    EXPECT_EQ(std::string(addr.GetAddr()), std::string(127, 'h')) << "a failed Init keeps nothing";
    EXPECT_EQ(addr.GetPort(), 0);
}

} // namespace
