// Depth records on their way from the library's thread to Python readers:
// the bounded ring, the readers' side of it, and the room they wait in.
// Any source of 408-byte records with receive times feeds one the same way
// (Push), and Python reads it through the same face (mdlink's tick readers).
#pragma once

#include "DepthRing.h"
#include "WaitRoom.h"

#include <pybind11/pybind11.h>

#include <cstdint>

namespace mdpy {

class DepthQueue {
public:
    // `encoding`: a str naming the codec of the records' texts, or None.
    DepthQueue(std::size_t capacity, pybind11::object encoding);

    // ---- producer (any thread but a reader's) ----
    // When the queue is full the oldest queued record is dropped: readers
    // get the newest records, each in the order it came.
    void Push(const Depth& d, std::int64_t nanos);
    // A record handed to a callback instead: received and consumed at once.
    void CountPushed();

    // ---- readers (Python, GIL held) ----
    // Next record, or None after `timeout` seconds (negative: no limit) or
    // once closed and drained.
    pybind11::object Next(double timeout);
    // Up to `max` records as one bytearray of whole records (each followed
    // by its 8-byte receive time when `withTime`), waiting up to `timeout`
    // until `least` are queued, then taking what there is.
    pybind11::object TakeBatch(std::size_t max, double timeout, std::size_t least, bool withTime);
    std::size_t Queued();

    // Readers end once what is queued is taken.
    void Close();
    bool Closed();
    // In a child made by fork(): closed, with nothing of the parent's queued.
    void ForgetAfterFork();

    // (received, consumed, dropped, queued), read at one moment: the first
    // is always the sum of the others.
    pybind11::tuple Counters();
    // Records the storage has room for now (it grows as records wait).
    std::size_t Allocated();

    WaitRoom& Room() { return room_; }
    std::size_t Capacity() const { return ring_.Capacity(); }
    std::uint64_t Received();
    std::uint64_t Consumed();
    std::uint64_t Dropped();
    int Waiting();

private:
    std::size_t CopyOut(unsigned char* dst, std::size_t count, bool withTime);

    WaitRoom room_;
    DepthRing ring_; // under room_.mu
    // Under room_.mu, so that one look sees them agree.
    std::uint64_t received_ = 0, consumed_ = 0, dropped_ = 0;

    pybind11::object encodingObject_; // keeps `encoding_` alive
    PyObject* encoding_;
};

} // namespace mdpy
