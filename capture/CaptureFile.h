// One capture file written synchronously: the header on creation, then
// records gathered into blocks, each block appended with one write. The
// capture Writer's thread uses it, and so do tools that write files from
// files (mdcap cut and merge), where nothing may be dropped.
#pragma once

#include "CaptureFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mdcapture {

class FileWriter {
public:
    // Creates the file (never over an existing one); nullptr and error set on failure.
    static std::unique_ptr<FileWriter> Create(const std::string& path, const FileHeader& header, int level,
                                              std::string& error);
    // Adds a record to the open block; a block is written when it reaches
    // blockBytes of records. false and error set when a write failed.
    bool Append(std::int64_t receiveNs, RecordKind kind, const void* bytes, std::uint32_t size);
    // Writes the open block, if any; false and error set when the write failed.
    bool Flush();
    // Flushes and closes; idempotent.
    bool Close();

    std::uint64_t Bytes() const { return bytes_; }
    std::uint64_t Blocks() const { return blocks_; }
    std::uint32_t Pending() const { return pending_; } // records in the open block
    std::int64_t FirstPendingNs() const { return firstNs_; }
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }
    ~FileWriter();

    // Raw bytes of records a block holds before it is written.
    std::size_t blockBytes = 1u << 20;

private:
    FileWriter() = default;
    bool WriteAll(const void* bytes, std::size_t size);

    std::string path_, error_;
    int fd_ = -1;
    void* cctx_ = nullptr;
    std::vector<std::uint8_t> raw_, out_;
    std::uint32_t pending_ = 0;
    std::int64_t firstNs_ = 0, lastNs_ = 0;
    std::uint64_t bytes_ = 0, blocks_ = 0;
};

} // namespace mdcapture
