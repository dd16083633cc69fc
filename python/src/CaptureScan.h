// Capture files read for Python: the depth records of a list of files, in
// order, filtered by receive time and instrument, copied straight into rows
// of a numpy array (the record, then its receive time), with no Python
// object per record. Blocks wholly outside the time range are skipped by
// their headers, without decompressing.
#pragma once

#include "CaptureReader.h"

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace mdpy {

// A damaged or unreadable capture: "FILE: at offset N: why".
struct CaptureFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Rows handed to numpy (np.frombuffer keeps it alive): memory of its own,
// in huge pages where the system gives them, as a fresh array's page faults
// would otherwise cost more than decompressing its records.
class CaptureRows {
public:
    explicit CaptureRows(std::size_t capacity); // bytes
    ~CaptureRows();
    CaptureRows(const CaptureRows&) = delete;
    CaptureRows& operator=(const CaptureRows&) = delete;

    unsigned char* Data() { return data_; }
    std::size_t Size() const { return size_; }
    void SetSize(std::size_t size) { size_ = size; } // at most the capacity

private:
    unsigned char* data_ = nullptr;
    std::size_t capacity_ = 0, size_ = 0;
};

struct CaptureFilter {
    std::int64_t start = std::numeric_limits<std::int64_t>::min(); // receive time from, inclusive
    std::int64_t end = std::numeric_limits<std::int64_t>::max();   // up to, exclusive
    std::vector<std::string> instruments;                          // encoded ids; none: all
};

// Which records a read keeps.
class RowFilter {
public:
    explicit RowFilter(CaptureFilter f);
    RowFilter(const RowFilter& other) : RowFilter(other.f_) {}
    RowFilter& operator=(const RowFilter&) = delete;

    // The block may hold records in the time range (by its header alone).
    bool InRange(const mdcapture::BlockInfo& b) const;
    // Rows of the records in views[from, to) that pass, written to `out`;
    // stops after `max` rows (at views[next]). The count written.
    std::size_t Copy(const std::vector<mdcapture::RecordView>& views, std::size_t& next, std::size_t max,
                     unsigned char* out) const;

private:
    bool Wanted(const mdcapture::RecordView& r) const;

    CaptureFilter f_;
    std::unordered_set<std::string_view> ids_; // into f_.instruments
};

class CaptureScan {
public:
    // A row: the depth record as delivered, then its receive time (ns).
    static constexpr std::size_t RowSize = 416;

    CaptureScan(std::vector<std::string> paths, CaptureFilter filter);

    // Up to `max` rows (fewer at the end, none once done), filled with the
    // GIL let go. A fault raises CaptureFault, after the rows read before it
    // were handed out.
    std::unique_ptr<CaptureRows> Take(std::size_t max);

private:
    std::size_t Fill(unsigned char* out, std::size_t max);
    bool NextBlock(); // the next block in range decompressed into views_
    void Stop(const std::string& why);

    std::vector<std::string> paths_;
    std::size_t nextPath_ = 0;
    RowFilter filter_;
    std::unique_ptr<mdcapture::Reader> reader_;
    std::vector<mdcapture::RecordView> views_;
    std::size_t at_ = 0; // views_ handed out so far
    std::string fault_;  // raised by the next Take
    bool done_ = false;
};

// Every row of the files that passes, in one buffer sized from the block
// headers first, the blocks decompressed by `threads` threads. Raises
// CaptureFault at the first fault in reading order.
std::unique_ptr<CaptureRows> ReadAllRows(const std::vector<std::string>& paths, const CaptureFilter& filter,
                                         unsigned threads);

// (header dict, [(offset, first_ns, last_ns, records, compressed_bytes,
// raw_bytes)], fault text or "") of one file, from its block headers alone.
pybind11::tuple CaptureIndex(const std::string& path);

} // namespace mdpy
