#include "CaptureFormat.h"
#include "Crc32c.h"

#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace mdcapture;

TEST(Crc32cTest, KnownChecksums)
{
    struct Case {
        std::string bytes;
        std::uint32_t crc;
    };
    // The standard check value, and values of the iSCSI test vectors.
    const Case cases[] = {{"", 0},
                          {"123456789", 0xE3069283u},
                          {std::string(32, '\0'), 0x8A9136AAu},
                          {std::string(32, '\xff'), 0x62A8AB43u}};
    for (const auto& c : cases)
        EXPECT_EQ(Crc32c(0, c.bytes.data(), c.bytes.size()), c.crc) << c.bytes.size() << " bytes";
    // Fed in pieces, the same.
    EXPECT_EQ(Crc32c(Crc32c(0, "1234", 4), "56789", 5), 0xE3069283u);
}

TEST(Crc32cTest, EveryLengthAndAlignmentAgreesWithTheBitwiseDefinition)
{
    auto bitwise = [](const std::string& s, std::size_t from, std::size_t n) {
        std::uint32_t c = ~0u;
        for (std::size_t i = from; i < from + n; ++i) {
            c ^= static_cast<std::uint8_t>(s[i]);
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        }
        return ~c;
    };
    std::string bytes(300, '\0');
    std::uint32_t x = 12345;
    for (char& b : bytes)
        b = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    for (std::size_t from = 0; from < 9; ++from)
        for (std::size_t n = 0; n + from <= bytes.size(); n += 7)
            ASSERT_EQ(Crc32c(0, bytes.data() + from, n), bitwise(bytes, from, n)) << from << " " << n;
    // In pieces of every size up to 13, the same as in one.
    for (std::size_t piece = 1; piece <= 13; ++piece) {
        std::uint32_t c = 0;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            c = Crc32c(c, bytes.data() + at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(c, bitwise(bytes, 0, bytes.size())) << piece;
    }
}

TEST(CaptureFormatTest, DepthLayoutIsTheRecordsMembers)
{
    const RecordLayout layout = DepthLayout();
    EXPECT_EQ(layout.size, 408u);
    ASSERT_EQ(layout.members.size(), 44u);
    EXPECT_EQ(layout.members.front(), (MemberLayout{"TradingDay", "text", 0, 9}));
    EXPECT_EQ(layout.members[11], (MemberLayout{"Volume", "i32", 136, 4}));
    EXPECT_EQ(layout.members.back(), (MemberLayout{"ActionDay", "text", 392, 9}));
}

TEST(CaptureFormatTest, HeaderRoundTripsAndFieldsCannotSplitLines)
{
    FileHeader header = capturetest::Header();
    header.fronts = {"tcp://a:1", "tcp://b:2"};
    header.writer = "mdcli\t1.4\n";
    const auto bytes = EncodeFileHeader(header);
    std::string error;
    ASSERT_EQ(FileHeaderSize(bytes.data(), error), bytes.size()) << error;
    FileHeader back;
    ASSERT_TRUE(DecodeFileHeader(bytes.data(), bytes.size(), back, error)) << error;
    EXPECT_EQ(back.version, FormatVersion);
    EXPECT_EQ(back.writer, "mdcli 1.4 ");
    EXPECT_EQ(back.tradingDay, "20261209");
    EXPECT_EQ(back.fronts, header.fronts);
    ASSERT_EQ(back.layouts.size(), 1u);
    EXPECT_EQ(back.layouts[0], DepthLayout());
    EXPECT_EQ(CheckLayouts(back), "");
}

TEST(CaptureFormatTest, BlockHeaderBytesAndBounds)
{
    BlockHeader header;
    header.records = 2;
    header.firstNs = -5;
    header.lastNs = 0x0102030405060708;
    header.compressedBytes = 100;
    header.rawBytes = 848;
    header.crc = 0xDEADBEEF;
    std::uint8_t bytes[BlockHeaderSize];
    EncodeBlockHeader(header, bytes);
    // Little-endian, at the documented offsets.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "MDCB");
    EXPECT_EQ(bytes[4], 2);
    EXPECT_EQ(bytes[8], 0xFB);
    EXPECT_EQ(bytes[15], 0xFF);
    EXPECT_EQ(bytes[16], 0x08);
    EXPECT_EQ(bytes[36], 0xEF);
    std::string error;
    BlockHeader back;
    ASSERT_TRUE(DecodeBlockHeader(bytes, back, error)) << error;
    EXPECT_EQ(back.lastNs, header.lastNs);
    EXPECT_EQ(back.firstNs, -5);
    EXPECT_EQ(back.crc, header.crc);

    struct Case {
        const char* name;
        std::uint32_t records, compressed, raw;
        const char* error; // "" when the header is good
    };
    const Case cases[] = {
        {"smallest", 1, 1, 16, ""},
        {"raw at the bound", 1, 1, MaxBlockRawBytes, ""},
        {"raw over the bound", 1, 1, MaxBlockRawBytes + 1, "more than"},
        {"no records", 0, 10, 848, "0 records"},
        {"more records than bytes allow", 54, 10, 848, "54 records"},
        {"empty payload", 2, 0, 848, "payload of 0"},
        {"payload larger than any frame of it", 2, 848 + 848 / 128 + 1025, 848, "payload of"},
    };
    for (const auto& c : cases) {
        header.records = c.records;
        header.compressedBytes = c.compressed;
        header.rawBytes = c.raw;
        EncodeBlockHeader(header, bytes);
        error.clear();
        EXPECT_EQ(DecodeBlockHeader(bytes, back, error), *c.error == '\0') << c.name;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
}
