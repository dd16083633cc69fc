#include "CaptureScan.h"

#include "Gil.h"

#include "MdApi.h"
#include <pybind11/stl.h>

#include <cstring>
#include <utility>

namespace py = pybind11;

namespace mdpy {

namespace {

using Depth = CThostFtdcDepthMarketDataField;
static_assert(CaptureScan::RowSize == sizeof(Depth) + sizeof(std::int64_t), "a row is a record and its time");

py::object NewBytes(std::size_t size)
{
    PyObject* p = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    if (!p)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(p);
}

void Shrink(py::object& bytes, std::size_t size)
{
    if (PyByteArray_Resize(bytes.ptr(), static_cast<Py_ssize_t>(size)) < 0)
        throw py::error_already_set();
}

} // namespace

CaptureScan::CaptureScan(std::vector<std::string> paths, CaptureFilter filter)
    : paths_(std::move(paths)), filter_(std::move(filter))
{
    for (const std::string& id : filter_.instruments)
        ids_.insert(id);
}

bool CaptureScan::InRange(const mdcapture::BlockInfo& b) const
{
    // Receive times may step back with the clock: the block's span is
    // between its first and last record, whichever is earlier.
    const std::int64_t lo = std::min(b.firstNs, b.lastNs), hi = std::max(b.firstNs, b.lastNs);
    return hi >= filter_.start && lo < filter_.end;
}

bool CaptureScan::Wanted(const mdcapture::RecordView& r) const
{
    if (r.kind != mdcapture::RecordKind::Depth || r.size != sizeof(Depth) || r.receiveNs < filter_.start ||
        r.receiveNs >= filter_.end)
        return false;
    if (ids_.empty())
        return true;
    const char* id = static_cast<const char*>(r.bytes) + offsetof(Depth, InstrumentID);
    return ids_.count(std::string_view(id, strnlen(id, sizeof(Depth::InstrumentID)))) != 0;
}

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
        if (!InRange(info))
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
        for (; at_ < views_.size() && n < max; ++at_) {
            const mdcapture::RecordView& r = views_[at_];
            if (!Wanted(r))
                continue;
            unsigned char* row = out + n++ * RowSize;
            std::memcpy(row, r.bytes, sizeof(Depth));
            std::memcpy(row + sizeof(Depth), &r.receiveNs, sizeof r.receiveNs);
        }
    }
    return n;
}

py::object CaptureScan::Take(std::size_t max)
{
    if (!fault_.empty() && at_ == views_.size())
        throw CaptureFault(std::exchange(fault_, std::string()));
    py::object out = NewBytes(max * RowSize);
    std::size_t n;
    {
        GilRelease unlocked;
        n = Fill(reinterpret_cast<unsigned char*>(PyByteArray_AS_STRING(out.ptr())), max);
    }
    if (n == 0 && !fault_.empty())
        throw CaptureFault(std::exchange(fault_, std::string()));
    if (n < max)
        Shrink(out, n * RowSize);
    return out;
}

std::size_t CaptureScan::BoundLeft()
{
    std::size_t bound = views_.size() - at_;
    for (std::size_t k = nextPath_; k < paths_.size(); ++k) {
        std::string error;
        std::unique_ptr<mdcapture::Reader> r = mdcapture::Reader::Open(paths_[k], error);
        mdcapture::BlockInfo info{};
        while (r && r->NextBlock(info))
            if (InRange(info))
                bound += info.records;
        if (indexFault_.empty())
            indexFault_ = r ? r->StopText() : error;
    }
    return bound;
}

py::object CaptureScan::TakeAll()
{
    if (reader_)
        throw std::logic_error("CaptureScan::TakeAll: only before any Take");
    std::size_t bound;
    {
        GilRelease unlocked;
        bound = BoundLeft();
    }
    py::object out = Take(bound);
    // Rows up to the bound leave a fault past them unmet by the read.
    if (!fault_.empty() || !indexFault_.empty())
        throw CaptureFault(!fault_.empty() ? fault_ : indexFault_);
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
