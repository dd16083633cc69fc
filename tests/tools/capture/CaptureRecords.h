// The records of a capture directory, for tests that compare captures.
#pragma once

#include "CaptureReader.h"
#include "MdApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace capturetest {

struct Captured {
    std::int64_t ns;
    std::string id;
    std::string bytes;
};

// Every record of every file in dir, oldest file first; a file that does
// not read to its end cleanly fails the test.
inline std::vector<Captured> ReadCapture(const std::filesystem::path& dir)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    std::vector<Captured> out;
    for (const std::string& file : files) {
        std::string error;
        auto reader = mdcapture::Reader::Open(file, error);
        EXPECT_TRUE(reader) << error;
        if (!reader)
            continue;
        mdcapture::BlockInfo block;
        std::vector<mdcapture::RecordView> views;
        while (reader->NextBlock(block) && reader->ReadBlock(views))
            for (const mdcapture::RecordView& v : views) {
                const auto* d = static_cast<const CThostFtdcDepthMarketDataField*>(v.bytes);
                out.push_back(
                    {v.receiveNs, d->InstrumentID, std::string(static_cast<const char*>(v.bytes), v.size)});
            }
        EXPECT_TRUE(reader->Stopped().clean) << reader->StopText();
    }
    return out;
}

// Each instrument's records, in order.
inline std::map<std::string, std::vector<std::string>> ByInstrument(const std::vector<Captured>& records)
{
    std::map<std::string, std::vector<std::string>> out;
    for (const Captured& r : records)
        out[r.id].push_back(r.bytes);
    return out;
}

} // namespace capturetest
