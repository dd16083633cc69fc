// Capture files written from Python: a client's own capture (Session adds
// each depth record it delivers), and rows of a numpy array written whole.
#pragma once

#include "CaptureWriter.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <vector>

namespace mdpy {

// The writer for `directory` (queueRecords 0: the writer's default);
// raises OSError when it cannot be opened.
std::unique_ptr<mdcapture::Writer> OpenCapture(const std::string& directory, const std::string& writer,
                                               const std::vector<std::string>& fronts,
                                               std::chrono::milliseconds flushEvery,
                                               std::size_t queueRecords);

// records, dropped, blocks, files, bytes, error ("" when none) and the files written.
pybind11::dict CaptureStats(const mdcapture::Writer& w);

// Writes rows of a record and its receive time (CaptureScan::RowSize each)
// to new files in `directory`, blocks cut by size only; what CaptureStats
// says of it. Raises CaptureFault when a record was lost.
pybind11::dict WriteCapture(const std::string& directory, const pybind11::buffer& rows,
                            const std::string& writer, const std::vector<std::string>& fronts);

} // namespace mdpy
