// Capture files to replay (mdcli --capture, mdrelay --capture): what the
// front learns from them before it serves (their instruments, where their
// records start), and each session's way through them (CapturePlayer).
// Builds without capture files compile this too: the book then refuses.
#pragma once

#include "FrontConfig.h"
#include "MdApi.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mdfront {

class CaptureBook {
public:
    // Reads every file through once. Throws std::runtime_error when a file
    // cannot be opened, is not a capture file, or the files hold no depth
    // record. A file that stops being readable part way is replayed up to
    // there; Notes() says where.
    explicit CaptureBook(std::vector<std::string> files);

    const std::vector<std::string>& Files() const { return files_; }
    // The instruments of the files, in order of first appearance.
    const std::vector<InstrumentInfo>& Instruments() const { return instruments_; }
    std::uint64_t Records() const { return records_; }
    // The receive time of the first record, where the replay's clock starts.
    std::int64_t FirstNs() const { return firstNs_; }
    // Where and why reading stopped early, one line per file that did.
    const std::vector<std::string>& Notes() const { return notes_; }

private:
    std::vector<std::string> files_;
    std::vector<InstrumentInfo> instruments_;
    std::uint64_t records_ = 0;
    std::int64_t firstNs_ = 0;
    std::vector<std::string> notes_;
};

// One session's reading of a book's files, block by block, in file order.
class CapturePlayer {
public:
    explicit CapturePlayer(const CaptureBook& book);
    ~CapturePlayer();
    CapturePlayer(const CapturePlayer&) = delete;
    CapturePlayer& operator=(const CapturePlayer&) = delete;

    // The next depth record and its receive time; false once the files are done.
    bool Next(std::int64_t& receiveNs, CThostFtdcDepthMarketDataField& depth);

private:
    struct Reading;

    std::unique_ptr<Reading> reading_;
};

// Whether path starts as a capture file does (false for a CSV file, or a
// file that cannot be read).
bool IsCaptureFile(const std::string& path);

} // namespace mdfront
