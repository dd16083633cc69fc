// The writer thread's side of a capture, with no thread of its own: which
// file a record goes to and when a block is cut. A block is written when
// flushEvery has passed since its first record (on the monotonic time the
// caller passes in, so tests drive it), when it is full, before a record of
// another trading day (which starts a new file) and when a file has reached
// rotateBytes (the next record starts a new file).
#pragma once

#include "CaptureFile.h"
#include "CaptureWriter.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mdcapture {

struct FileCounters {
    std::atomic<std::uint64_t> dropped{0}, blocks{0}, files{0}, bytes{0};
};

class CaptureFiles {
public:
    // The wall-clock time files are named by, in ns since the epoch.
    using NameClock = std::function<std::int64_t()>;

    CaptureFiles(const WriterOptions& options, FileCounters& counters, NameClock nameClock);
    ~CaptureFiles();

    // A depth record's bytes (padding already zeroed), at monotonic time nowNs.
    void Add(const void* record, std::int64_t receiveNs, std::int64_t nowNs);
    // Writes the open block if flushEvery has passed since its first record.
    void Tick(std::int64_t nowNs);
    // Writes the open block and closes the file.
    void Close();

    std::string LastError() const;
    std::vector<std::string> Files() const;

private:
    bool OpenFile(const std::string& tradingDay);
    void CloseFile();
    void Failed(std::uint32_t lost);
    void CountWritten();

    WriterOptions options_;
    FileCounters& counters_;
    NameClock nameClock_;
    std::unique_ptr<FileWriter> file_;
    std::string day_;
    std::int64_t blockStart_ = 0;
    std::int64_t retryAt_ = 0; // no file is opened before, after one could not be
    std::uint64_t countedBytes_ = 0, countedBlocks_ = 0;
    unsigned sequence_ = 0;
    mutable std::mutex mutex_; // guards error_ and files_, read from other threads
    std::string error_;
    std::vector<std::string> files_;
};

} // namespace mdcapture
