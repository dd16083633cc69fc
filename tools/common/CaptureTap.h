// A client tool's capture file writer (mdcli --capture, mdrelay --capture,
// mdrelay --read --capture): every depth record the tool receives, with its
// receive time, into a capture directory. Add is called on the thread that
// delivers the record and never waits; the writing runs on a thread of its
// own. Builds without capture files compile it too: Open then says so.
#pragma once

#include "CaptureSettings.h"
#include "MdApi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mdtools {

// What a capture did, for the tool's summary.
struct CaptureCounts {
    std::uint64_t records = 0;
    std::uint64_t dropped = 0;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::string error; // the last write or file error, "" when none
};

class CaptureTap {
public:
    virtual ~CaptureTap() = default;

    // The writer named `writer` ("mdcli 1.4.0") into settings.directory;
    // nullptr and a message when capture files are not built in, or the
    // directory cannot be made or written.
    static std::unique_ptr<CaptureTap> Open(const CaptureSettings& settings, const std::string& writer,
                                            const std::vector<std::string>& fronts, std::string& error);
    // The receive time a tap stamps: ns since the epoch, system clock.
    static std::int64_t Now();

    // Copies the record into the writer's queue; a full queue drops it and counts it.
    virtual void Add(const CThostFtdcDepthMarketDataField& depth, std::int64_t receiveNs) noexcept = 0;
    virtual CaptureCounts Counts() const = 0;
    // Writes what is queued and closes the file; idempotent.
    virtual void Close() = 0;
};

// The summary line: "captured N records into DIR (F files, B bytes), D dropped",
// and the last write error when there was one.
std::string CaptureSummary(const std::string& directory, const CaptureCounts& counts);

} // namespace mdtools
