// Capturing depth records as the application receives them: Add copies a
// record into a bounded queue on the receiving thread and returns; the
// thread "mdcap-writer" takes records off the queue, compresses them into
// blocks and appends each block to the current file with one write.
//
//   receiving thread(s)        mdcap-writer
//   Add -> RecordQueue  --->   BlockBuilder -> FileWriter (one write per block)
//   (full: dropped, counted)   a block per flushEvery, per trading day, per file size
#pragma once

#include "CaptureFormat.h"
#include "MdApi.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mdcapture {

struct WriterOptions {
    std::string directory; // created if missing; files named so they sort by time
    std::string writer;    // "mdcli 1.4.0"
    std::vector<std::string> fronts;
    std::chrono::milliseconds flushEvery{1000}; // a block at least this often while records come
    std::uint64_t rotateBytes = 1ull << 30;     // and a new file at the trading day's change
    std::size_t queueRecords = 1 << 16;         // bounded; full: the record is dropped and counted
    int level = 3;                              // Zstandard level
};

// records: accepted by Add; dropped: refused by a full queue, or lost to a
// failed write (LastError says why); blocks, files, bytes: written.
struct WriterStats {
    std::uint64_t records, dropped, blocks, files, bytes;
};

class WriterThread;

class Writer {
public:
    // nullptr and error set when the directory cannot be made or written.
    static std::unique_ptr<Writer> Open(const WriterOptions& options, std::string& error);
    // Called on the receiving thread: never blocks, allocates nothing, copies the record
    // (padding zeroed) into the bounded queue; false when the queue was full (counted in dropped).
    // Safe from several receiving threads at once.
    bool Add(const CThostFtdcDepthMarketDataField& record, std::int64_t receiveNs) noexcept;
    WriterStats Stats() const; // any thread
    // The last write or file error, "" when none; any thread.
    std::string LastError() const;
    // The files written so far, in order; any thread.
    std::vector<std::string> Files() const;
    void Close(); // flushes the last block, joins; idempotent; the destructor calls it
    ~Writer();

private:
    explicit Writer(std::unique_ptr<WriterThread> thread);
    std::unique_ptr<WriterThread> thread_;
};

// Receive time as the writers stamp it: nanoseconds since the epoch, system clock.
std::int64_t NowNs();

// The file name a capture opened at this time gets: YYYYMMDD-HHMMSS.ffffff-NNNN.mdcap
// (UTC, NNNN the writer's count of files from 0001), so names sort by time.
std::string FileNameAt(std::int64_t epochNs, unsigned sequence);

// Copies a depth record with the bytes between its members zeroed, so equal
// records are equal byte for byte.
void CopyZeroingPadding(const CThostFtdcDepthMarketDataField& record, void* out) noexcept;

} // namespace mdcapture
