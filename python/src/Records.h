// The interface's records as light Python objects: the record's bytes inside
// the object, numbers read straight from them, texts decoded on access.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

struct CThostFtdcDepthMarketDataField;

namespace mdpy {

enum class RecordKind { Depth, Login, RspInfo, ForQuote, Count };

// Adds Depth, LoginResponse, RspInfo and ForQuote to the module and the
// member tables behind MemberTable(). Returns false with a Python error set.
bool AddRecordTypes(PyObject* module);

// A new record object holding a copy of `size` bytes (the record's own size
// or less; the rest reads as zero). `encoding` is a str naming the codec of
// its texts, or null for the default. Null with a Python error on failure.
PyObject* NewRecord(RecordKind kind, const void* data, std::size_t size, PyObject* encoding);

// A depth record object with its receive time (ns since the epoch).
PyObject* NewDepth(const CThostFtdcDepthMarketDataField& d, std::int64_t nanos, PyObject* encoding);

// Text of a fixed-width member: up to the first NUL, ASCII as is, anything
// else through the codec (undecodable bytes replaced, never an exception).
PyObject* DecodeText(const char* text, std::size_t width, PyObject* encoding);

// [(name, kind, offset, size)], kind "text", "double" or "int": what the
// numpy dtype of a record kind is built from.
PyObject* MemberTable(RecordKind kind);

} // namespace mdpy
