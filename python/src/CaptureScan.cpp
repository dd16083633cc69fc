#include "CaptureScan.h"

#include "Gil.h"

#include "MdApi.h"

#include <pybind11/stl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace py = pybind11;

namespace mdpy {

namespace {

using Depth = CThostFtdcDepthMarketDataField;
static_assert(CaptureScan::RowSize == sizeof(Depth) + sizeof(std::int64_t), "a row is a record and its time");

} // namespace

CaptureRows::CaptureRows(std::size_t capacity) : capacity_(capacity)
{
    if (capacity_ == 0)
        return;
    void* p = ::mmap(nullptr, capacity_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(p, capacity_, MADV_HUGEPAGE); // a hint: refused, the pages are small ones
#endif
    data_ = static_cast<unsigned char*>(p);
}

CaptureRows::~CaptureRows()
{
    if (data_)
        ::munmap(data_, capacity_);
}

RowFilter::RowFilter(CaptureFilter f) : f_(std::move(f))
{
    for (const std::string& id : f_.instruments)
        ids_.insert(id);
}

bool RowFilter::InRange(const mdcapture::BlockInfo& b) const
{
    // Receive times may step back with the clock: the block's span is
    // between its first and last record, whichever is earlier.
    const std::int64_t lo = std::min(b.firstNs, b.lastNs), hi = std::max(b.firstNs, b.lastNs);
    return hi >= f_.start && lo < f_.end;
}

bool RowFilter::Wanted(const mdcapture::RecordView& r) const
{
    if (r.kind != mdcapture::RecordKind::Depth || r.size != sizeof(Depth) || r.receiveNs < f_.start ||
        r.receiveNs >= f_.end)
        return false;
    if (ids_.empty())
        return true;
    const char* id = static_cast<const char*>(r.bytes) + offsetof(Depth, InstrumentID);
    return ids_.count(std::string_view(id, strnlen(id, sizeof(Depth::InstrumentID)))) != 0;
}

std::size_t RowFilter::Copy(const std::vector<mdcapture::RecordView>& views, std::size_t& next,
                            std::size_t max, unsigned char* out) const
{
    std::size_t n = 0;
    for (; next < views.size() && n < max; ++next) {
        const mdcapture::RecordView& r = views[next];
        if (!Wanted(r))
            continue;
        unsigned char* row = out + n++ * CaptureScan::RowSize;
        std::memcpy(row, r.bytes, sizeof(Depth));
        std::memcpy(row + sizeof(Depth), &r.receiveNs, sizeof r.receiveNs);
    }
    return n;
}

CaptureScan::CaptureScan(std::vector<std::string> paths, CaptureFilter filter)
    : paths_(std::move(paths)), filter_(std::move(filter))
{}

void CaptureScan::Stop(const std::string& why)
{
    fault_ = why;
    done_ = true;
    reader_.reset();
    views_.clear();
    at_ = 0;
}

bool CaptureScan::NextBlock()
{
    while (!done_) {
        if (!reader_) {
            if (nextPath_ == paths_.size()) {
                done_ = true;
                return false;
            }
            std::string error;
            reader_ = mdcapture::Reader::Open(paths_[nextPath_++], error);
            if (!reader_) {
                Stop(error);
                return false;
            }
        }
        mdcapture::BlockInfo info{};
        if (!reader_->NextBlock(info)) {
            if (!reader_->Stopped().clean) {
                Stop(reader_->StopText());
                return false;
            }
            reader_.reset();
            continue;
        }
        if (!filter_.InRange(info))
            continue;
        if (!reader_->ReadBlock(views_)) {
            Stop(reader_->StopText());
            return false;
        }
        at_ = 0;
        return true;
    }
    return false;
}

std::size_t CaptureScan::Fill(unsigned char* out, std::size_t max)
{
    std::size_t n = 0;
    while (n < max) {
        if (at_ == views_.size() && !NextBlock())
            break;
        n += filter_.Copy(views_, at_, max - n, out + n * RowSize);
    }
    return n;
}

std::unique_ptr<CaptureRows> CaptureScan::Take(std::size_t max)
{
    if (!fault_.empty() && at_ == views_.size())
        throw CaptureFault(std::exchange(fault_, std::string()));
    std::unique_ptr<CaptureRows> out;
    {
        GilRelease unlocked;
        out = std::make_unique<CaptureRows>(max * RowSize);
        out->SetSize(Fill(out->Data(), max) * RowSize);
    }
    if (out->Size() == 0 && !fault_.empty())
        throw CaptureFault(std::exchange(fault_, std::string()));
    return out;
}

py::tuple CaptureIndex(const std::string& path)
{
    std::string error;
    std::unique_ptr<mdcapture::Reader> r;
    std::vector<mdcapture::BlockInfo> blocks;
    {
        GilRelease unlocked;
        r = mdcapture::Reader::Open(path, error);
        mdcapture::BlockInfo info{};
        while (r && r->NextBlock(info))
            blocks.push_back(info);
    }
    if (!r)
        throw CaptureFault(error);
    const mdcapture::FileHeader& h = r->Header();
    py::dict header;
    header["version"] = h.version;
    header["writer"] = h.writer;
    header["trading_day"] = h.tradingDay;
    header["fronts"] = py::cast(h.fronts);
    py::list list;
    for (const mdcapture::BlockInfo& b : blocks)
        list.append(py::make_tuple(b.offset, b.firstNs, b.lastNs, b.records, b.compressedBytes, b.rawBytes));
    return py::make_tuple(header, list, r->StopText());
}

} // namespace mdpy
