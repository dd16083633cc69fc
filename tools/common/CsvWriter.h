// Writes every depth record to a CSV file as it arrives (on the library's
// callback thread); the file mdfront --replay reads back.
#pragma once

#include "MdApi.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace mdtools {

class CsvWriter {
public:
    CsvWriter() = default;
    ~CsvWriter();
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;

    // Creates the file and writes the header row; false with a message on failure.
    bool Open(const std::string& path, std::string& error);
    void Write(long long recvUs, const CThostFtdcDepthMarketDataField& depth);
    // Flushes and closes; false when a write failed on the way (disk full, say).
    bool Close();

private:
    std::mutex mu_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

} // namespace mdtools
