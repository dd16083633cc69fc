#include "CaptureReader.h"
#include "CaptureWriter.h"
#include "Crc32c.h"

#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace mdcapture;
using capturetest::FileBytes;
using capturetest::PutFile;

namespace {

class CaptureReaderTest : public toolstest::TempDirTest {
protected:
    // A good file of three blocks of two records; where its blocks begin.
    void SetUp() override
    {
        TempDirTest::SetUp();
        capturetest::WriteFile("good.mdcap", 6, 2);
        good_ = FileBytes("good.mdcap");
        std::string error;
        auto reader = Reader::Open("good.mdcap", error);
        ASSERT_TRUE(reader) << error;
        for (const auto& block : capturetest::ReadAll(*reader).blocks)
            blocks_.push_back(block.offset);
        ASSERT_EQ(blocks_.size(), 3u);
    }

    std::string good_;
    std::vector<std::uint64_t> blocks_;
};

std::string Expected(std::uint64_t offset, const std::string& why)
{
    return "bad.mdcap: at offset " + std::to_string(offset) + ": " + why;
}

// The header's checksum made right again after an edit of its table.
void Rechecksum(std::string& bytes)
{
    std::uint32_t length;
    std::memcpy(&length, &bytes[12], 4);
    const std::uint32_t crc = Crc32c(0, bytes.data(), 16 + length);
    std::memcpy(&bytes[16 + length], &crc, 4);
}

} // namespace

TEST_F(CaptureReaderTest, BadHeadersAreRefusedNamingFileAndOffset)
{
    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
        std::string error;
    };
    const std::size_t headerSize = blocks_[0];
    const Case cases[] = {
        {"wrong magic", [](std::string& b) { b[1] = 'X'; }, Expected(0, "not a capture file (wrong magic)")},
        {"other version", [](std::string& b) { b[8] = 2; },
         Expected(0, "format version 2, this build reads 1")},
        {"table length beyond the bound", [](std::string& b) { std::memset(&b[12], 0xFF, 4); },
         Expected(0, "header table of 4294967295 bytes, more than 1048576")},
        {"truncated prefix", [](std::string& b) { b.resize(10); },
         Expected(10, "truncated header: 10 of 16")},
        {"truncated table", [&](std::string& b) { b.resize(headerSize - 1); },
         Expected(headerSize - 1, "truncated header: " + std::to_string(headerSize - 1))},
        {"table damaged", [](std::string& b) { b[20] ^= 1; }, Expected(0, "header checksum mismatch")},
        {"a member's offset moved",
         [](std::string& b) {
             b.replace(b.find("Volume\ti32\t136"), 14, "Volume\ti32\t137");
             Rechecksum(b);
         },
         Expected(0, "the depth record's layout differs from this build's")},
        {"an unknown record kind",
         [](std::string& b) {
             b.replace(b.find("record\t1\t"), 9, "record\t7\t");
             Rechecksum(b);
         },
         Expected(0, "unknown record kind 7")},
    };
    for (const auto& c : cases) {
        std::string bytes = good_;
        c.damage(bytes);
        PutFile("bad.mdcap", bytes);
        std::string error;
        EXPECT_FALSE(Reader::Open("bad.mdcap", error)) << c.name;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.name;
    }
    std::string error;
    EXPECT_FALSE(Reader::Open("missing.mdcap", error));
    EXPECT_EQ(error, "missing.mdcap: at offset 0: cannot open: No such file or directory");
}

TEST_F(CaptureReaderTest, BadBlocksStopReadingAfterTheGoodOnes)
{
    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
        std::size_t goodBlocks;
        std::string why;
    };
    const std::uint64_t second = blocks_[1], third = blocks_[2];
    const Case cases[] = {
        {"payload byte flipped", [&](std::string& b) { b[second + 45] ^= 0x40; }, 1,
         "block checksum mismatch"},
        {"record count changed", [&](std::string& b) { b[second + 4] = 1; }, 1, "block checksum mismatch"},
        {"block magic damaged", [&](std::string& b) { b[third] = 'X'; }, 2,
         "not a block header (wrong magic)"},
        {"payload size lies", [&](std::string& b) { std::memset(&b[third + 24], 0xFF, 4); }, 2,
         "block payload of 4294967295 bytes"},
        {"raw size lies", [&](std::string& b) { std::memset(&b[third + 28], 0x7F, 4); }, 2,
         "block of 2139062143"},
        {"last block cut in its payload", [&](std::string& b) { b.resize(b.size() - 1); }, 2,
         "truncated block: "},
        {"last block cut in its header", [&](std::string& b) { b.resize(third + 39); }, 2,
         "truncated block: 39 of 40 bytes of its header"},
    };
    for (const auto& c : cases) {
        std::string bytes = good_;
        c.damage(bytes);
        PutFile("bad.mdcap", bytes);
        std::string error;
        auto reader = Reader::Open("bad.mdcap", error);
        ASSERT_TRUE(reader) << c.name << ": " << error;
        const auto back = capturetest::ReadAll(*reader);
        EXPECT_EQ(back.blocks.size(), c.goodBlocks) << c.name;
        EXPECT_EQ(back.records.size(), 2 * c.goodBlocks) << c.name;
        EXPECT_FALSE(back.stop.clean) << c.name;
        EXPECT_EQ(back.stop.path, "bad.mdcap");
        EXPECT_EQ(back.stop.offset, blocks_[c.goodBlocks]) << c.name;
        EXPECT_EQ(back.stop.why.substr(0, c.why.size()), c.why) << c.name << ": " << back.stop.why;
        EXPECT_EQ(
            reader->StopText().rfind("bad.mdcap: at offset " + std::to_string(blocks_[c.goodBlocks]), 0), 0u);
    }
}

TEST_F(CaptureReaderTest, AFileCutAnywhereReadsBackItsCompleteBlocks)
{
    for (std::size_t size = blocks_[0]; size <= good_.size(); ++size) {
        PutFile("cut.mdcap", good_.substr(0, size));
        std::string error;
        auto reader = Reader::Open("cut.mdcap", error);
        ASSERT_TRUE(reader) << size << ": " << error;
        const auto back = capturetest::ReadAll(*reader);
        std::size_t complete = 0;
        while (complete < 3 && (complete == 2 ? good_.size() : blocks_[complete + 1]) <= size)
            ++complete;
        ASSERT_EQ(back.blocks.size(), complete) << size;
        const bool atABlockEnd = size == good_.size() || size == blocks_[complete];
        EXPECT_EQ(back.stop.clean, atABlockEnd) << size;
        if (!atABlockEnd) {
            EXPECT_EQ(back.stop.offset, blocks_[complete]) << size;
            EXPECT_EQ(back.stop.why.rfind("truncated block", 0), 0u) << size << ": " << back.stop.why;
        }
    }
}

// A writer killed while it writes: the child adds records without end and
// says when its first blocks are out; the file it leaves reads back whole
// blocks of consecutive records up to the kill.
TEST_F(CaptureReaderTest, AWriterKilledMidStreamLeavesItsCompleteBlocks)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WriterOptions options;
        options.directory = "killed";
        options.flushEvery = std::chrono::milliseconds(1);
        std::string error;
        auto writer = Writer::Open(options, error);
        bool told = false;
        for (std::int64_t i = 1; writer; ++i) {
            writer->Add(capturetest::Record("20261209", static_cast<int>(i)), i);
            if (!told && writer->Stats().blocks >= 3) {
                told = write(ready[1], "r", 1) == 1;
            }
        }
        _exit(1);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the child never wrote three blocks";
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    close(ready[0]);

    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator("killed"))
        files.push_back(entry.path().string());
    ASSERT_EQ(files.size(), 1u);
    std::string error;
    auto reader = Reader::Open(files[0], error);
    ASSERT_TRUE(reader) << error;
    const auto back = capturetest::ReadAll(*reader);
    ASSERT_GE(back.blocks.size(), 3u);
    // Records the queue refused leave gaps in the volumes, never reorder them.
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < back.records.size(); ++i) {
        CThostFtdcDepthMarketDataField d;
        std::memcpy(&d, back.records[i].data(), sizeof d);
        ASSERT_EQ(back.times[i], d.Volume);
        ASSERT_GT(back.times[i], previous);
        previous = back.times[i];
    }
    const auto& last = back.blocks.back();
    const std::uint64_t end = last.offset + BlockHeaderSize + last.compressedBytes;
    if (back.stop.clean) {
        EXPECT_EQ(end, std::filesystem::file_size(files[0]));
    } else {
        EXPECT_EQ(back.stop.offset, end);
        EXPECT_EQ(back.stop.why.rfind("truncated block", 0), 0u) << back.stop.why;
    }
}
