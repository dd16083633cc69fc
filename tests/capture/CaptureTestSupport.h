// Pieces shared by the capture tests: records that differ, files written
// with them, and the whole of a file as bytes.
#pragma once

#include "CaptureFile.h"
#include "CaptureReader.h"
#include "CaptureWriter.h"
#include "ToolsTestSupport.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace capturetest {

// Some of the depth record's bytes that no member covers, {offset, length},
// written out from the member table by hand: after Volume, after
// UpdateTime, after ActionDay at the end.
inline const std::pair<int, int> PaddingBytes[] = {{140, 4}, {217, 3}, {401, 7}};

// A depth record of a trading day with the given volume; every byte between
// members set, so a copy that keeps padding shows.
inline CThostFtdcDepthMarketDataField Record(const char* day, int volume, const char* id = "rb2601")
{
    CThostFtdcDepthMarketDataField d = toolstest::Depth(id, 4000 + volume);
    for (auto gap : PaddingBytes)
        std::memset(reinterpret_cast<char*>(&d) + gap.first, 0xA5, gap.second);
    std::strcpy(d.TradingDay, day);
    d.Volume = volume;
    return d;
}

inline mdcapture::FileHeader Header(const std::string& day = "20261209")
{
    return {
        mdcapture::FormatVersion, "capture tests 1", day, {"tcp://127.0.0.1:1"}, {mdcapture::DepthLayout()}};
}

// A file of count records, times 1000 * (i + 1), recordsPerBlock a block.
inline void WriteFile(const std::string& path, int count, int recordsPerBlock)
{
    std::string error;
    auto file = mdcapture::FileWriter::Create(path, Header(), 3, error);
    ASSERT_TRUE(file) << error;
    for (int i = 0; i < count; ++i) {
        char bytes[sizeof(CThostFtdcDepthMarketDataField)];
        mdcapture::CopyZeroingPadding(Record("20261209", i), bytes);
        ASSERT_TRUE(file->Append(1000 * (i + 1), mdcapture::RecordKind::Depth, bytes, sizeof bytes));
        if ((i + 1) % recordsPerBlock == 0) {
            ASSERT_TRUE(file->Flush());
        }
    }
    ASSERT_TRUE(file->Close()) << file->Error();
}

inline std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void PutFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct ReadBack {
    std::vector<mdcapture::BlockInfo> blocks;
    std::vector<std::int64_t> times;
    std::vector<std::string> records; // bytes
    mdcapture::ReadStop stop;
};

// Everything a reader gives for a file, up to where it stops.
inline ReadBack ReadAll(mdcapture::Reader& reader)
{
    ReadBack out;
    mdcapture::BlockInfo info{};
    std::vector<mdcapture::RecordView> views;
    while (reader.NextBlock(info) && reader.ReadBlock(views)) {
        out.blocks.push_back(info);
        for (const auto& v : views) {
            out.times.push_back(v.receiveNs);
            out.records.emplace_back(static_cast<const char*>(v.bytes), v.size);
        }
    }
    out.stop = reader.Stopped();
    return out;
}

} // namespace capturetest
