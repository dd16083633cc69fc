#include "CaptureSink.h"

#include "CaptureScan.h"
#include "Gil.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cstring>

namespace py = pybind11;

namespace mdpy {

namespace {

using Depth = CThostFtdcDepthMarketDataField;

// Records one writer takes from an array: its queue holds them all, so that
// none is dropped however fast they come.
constexpr std::size_t WriteChunk = 1 << 18;
// Blocks cut by size alone: no clock decides where a block of an array ends.
constexpr std::chrono::hours NoFlushByTime{24 * 365};

} // namespace

std::unique_ptr<mdcapture::Writer> OpenCapture(const std::string& directory, const std::string& writer,
                                               const std::vector<std::string>& fronts,
                                               std::chrono::milliseconds flushEvery, std::size_t queueRecords)
{
    mdcapture::WriterOptions o;
    o.directory = directory;
    o.writer = writer;
    o.fronts = fronts;
    o.flushEvery = flushEvery;
    if (queueRecords)
        o.queueRecords = queueRecords;
    std::string error;
    std::unique_ptr<mdcapture::Writer> w;
    {
        GilRelease unlocked;
        w = mdcapture::Writer::Open(o, error);
    }
    if (!w) {
        PyErr_SetString(PyExc_OSError, ("capture: " + error).c_str());
        throw py::error_already_set();
    }
    return w;
}

py::dict CaptureStats(const mdcapture::Writer& w)
{
    const mdcapture::WriterStats s = w.Stats();
    py::dict d;
    d["records"] = s.records;
    d["dropped"] = s.dropped;
    d["blocks"] = s.blocks;
    d["files"] = s.files;
    d["bytes"] = s.bytes;
    d["error"] = w.LastError();
    d["paths"] = py::cast(w.Files());
    return d;
}

py::dict WriteCapture(const std::string& directory, const py::buffer& rows, const std::string& writer,
                      const std::vector<std::string>& fronts)
{
    const py::buffer_info info = rows.request();
    const std::size_t bytes = static_cast<std::size_t>(info.size * info.itemsize);
    if (bytes % CaptureScan::RowSize != 0)
        throw py::value_error("write_capture: the rows are not whole records with their times");
    const auto* at = static_cast<const unsigned char*>(info.ptr);
    const std::size_t count = bytes / CaptureScan::RowSize;
    const char* const names[] = {"records", "dropped", "blocks", "files", "bytes"};
    py::dict out;
    for (const char* name : names)
        out[name] = 0;
    py::list paths;
    for (std::size_t from = 0; from < count; from += WriteChunk) {
        const std::size_t n = std::min(WriteChunk, count - from);
        std::unique_ptr<mdcapture::Writer> w = OpenCapture(directory, writer, fronts, NoFlushByTime, n);
        {
            GilRelease unlocked;
            for (std::size_t k = from; k < from + n; ++k) {
                Depth d;
                std::int64_t ns;
                std::memcpy(&d, at + k * CaptureScan::RowSize, sizeof d);
                std::memcpy(&ns, at + k * CaptureScan::RowSize + sizeof d, sizeof ns);
                w->Add(d, ns);
            }
            w->Close();
        }
        const mdcapture::WriterStats s = w->Stats();
        if (s.dropped != 0 || !w->LastError().empty())
            throw CaptureFault(directory + ": " + std::to_string(s.dropped) +
                               " records not written: " + w->LastError());
        const std::uint64_t counts[] = {s.records, s.dropped, s.blocks, s.files, s.bytes};
        for (int i = 0; i < 5; ++i)
            out[names[i]] = out[names[i]].cast<std::uint64_t>() + counts[i];
        for (const std::string& f : w->Files())
            paths.append(f);
    }
    out["error"] = "";
    out["paths"] = paths;
    return out;
}

} // namespace mdpy
