#include "DepthQueue.h"

#include "Records.h"

#include <algorithm>
#include <cstring>

namespace py = pybind11;

namespace mdpy {

namespace {

constexpr std::size_t ReadChunk = 256;   // records a reader takes per lock
constexpr std::size_t CopyChunk = 4096;  // records a batch copies per lock
constexpr std::size_t TimeSize = sizeof(std::int64_t);

py::object Steal(PyObject* p)
{
    if (!p)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(p);
}

} // namespace

DepthQueue::DepthQueue(std::size_t capacity, py::object encoding)
    : ring_(capacity), encodingObject_(std::move(encoding)),
      encoding_(encodingObject_.is_none() ? nullptr : encodingObject_.ptr())
{
}

void DepthQueue::Push(const Depth& d, std::int64_t nanos)
{
    received_.fetch_add(1, std::memory_order_relaxed);
    WaitRoom::Wake w;
    {
        std::lock_guard<std::mutex> lk(room_.mu);
        if (ring_.Push(d, nanos))
            dropped_.fetch_add(1, std::memory_order_relaxed);
        w = room_.DepthAdded(ring_.Size());
    }
    room_.Notify(w);
}

py::object DepthQueue::Next(double timeout)
{
    RefuseWaitInsideCallback("next_tick", timeout);
    if (pendingPos_ == pending_.size() && !Refill(timeout))
        return py::none();
    const std::size_t i = pendingPos_++;
    return Steal(NewDepth(pending_[i].d, pendingTimes_[i], encoding_));
}

// Fills `pending_` from the ring; false when nothing came in time. The
// records are taken into buffers of this call's own: another reader may run
// while the GIL is let go.
bool DepthQueue::Refill(double timeout)
{
    std::vector<Slot> buf;
    std::vector<std::int64_t> times;
    buf.swap(spare_);
    times.swap(spareTimes_);
    buf.resize(ReadChunk);
    times.resize(ReadChunk);
    std::size_t n = 0;
    room_.Wait(timeout, [&] {
        ring_.Take(ReadChunk, [&](const Depth* d, const std::int64_t* t, std::size_t count) {
            std::memcpy(static_cast<void*>(&buf[n].d), d, count * sizeof(Depth));
            std::copy(t, t + count, times.begin() + static_cast<std::ptrdiff_t>(n));
            n += count;
        });
        return n > 0;
    });
    buf.resize(n);
    times.resize(n);
    if (pendingPos_ == pending_.size()) {
        pending_.swap(buf);
        pendingTimes_.swap(times);
        pendingPos_ = 0;
    } else {
        pending_.insert(pending_.end(), buf.begin(), buf.end());
        pendingTimes_.insert(pendingTimes_.end(), times.begin(), times.end());
    }
    buf.clear();
    times.clear();
    spare_.swap(buf);
    spareTimes_.swap(times);
    return pendingPos_ < pending_.size();
}

py::object DepthQueue::TakeBatch(std::size_t max, double timeout, std::size_t least, bool withTime)
{
    RefuseWaitInsideCallback("batch", timeout);
    const std::size_t stride = sizeof(Depth) + (withTime ? TimeSize : 0);
    least = std::max<std::size_t>(1, std::min({least, max, ring_.Capacity()}));
    const std::size_t ready = pending_.size() - pendingPos_;
    if (max > 0 && ready < least) {
        {
            std::lock_guard<std::mutex> lk(room_.mu);
            room_.WaitForDepth(least - ready);
        }
        room_.Wait(timeout, [&] { return ring_.Size() >= least - ready; });
        std::lock_guard<std::mutex> lk(room_.mu);
        room_.DoneWaitingForDepth();
    }
    const std::size_t count = max == 0 ? 0 : std::min(max, Queued());
    py::object out = Steal(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * stride)));
    if (count == 0)
        return out;
    unsigned char* dst = reinterpret_cast<unsigned char*>(PyByteArray_AS_STRING(out.ptr()));
    std::size_t n = std::min(count, pending_.size() - pendingPos_);
    for (std::size_t i = 0; i < n; ++i) {
        std::memcpy(dst + i * stride, &pending_[pendingPos_ + i].d, sizeof(Depth));
        if (withTime)
            std::memcpy(dst + i * stride + sizeof(Depth), &pendingTimes_[pendingPos_ + i], TimeSize);
    }
    pendingPos_ += n;
    n += CopyOut(dst + n * stride, count - n, withTime);
    if (n < count && PyByteArray_Resize(out.ptr(), static_cast<Py_ssize_t>(n * stride)) < 0)
        throw py::error_already_set();
    return out;
}

// Copies up to `count` records straight off the ring, with the GIL let go;
// fewer when another reader took some meanwhile.
std::size_t DepthQueue::CopyOut(unsigned char* dst, std::size_t count, bool withTime)
{
    const std::size_t stride = sizeof(Depth) + (withTime ? TimeSize : 0);
    std::size_t n = 0;
    GilRelease unlocked;
    while (n < count) {
        std::lock_guard<std::mutex> lk(room_.mu);
        const std::size_t got = ring_.Take(
            std::min(CopyChunk, count - n), [&](const Depth* d, const std::int64_t* t, std::size_t k) {
                unsigned char* at = dst + n * stride;
                if (!withTime) {
                    std::memcpy(at, d, k * sizeof(Depth));
                } else {
                    for (std::size_t i = 0; i < k; ++i) {
                        std::memcpy(at + i * stride, d + i, sizeof(Depth));
                        std::memcpy(at + i * stride + sizeof(Depth), t + i, TimeSize);
                    }
                }
                n += k;
            });
        if (got == 0)
            break;
    }
    return n;
}

std::size_t DepthQueue::Queued()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return ring_.Size() + pending_.size() - pendingPos_;
}

void DepthQueue::Close()
{
    WaitRoom::Wake w;
    {
        std::lock_guard<std::mutex> lk(room_.mu);
        room_.closed = true;
        w = room_.Changed();
    }
    w.loop = true; // a watching event loop lets go of the queue when it sees this
    room_.Notify(w);
}

void DepthQueue::ForgetAfterFork()
{
    room_.ForgetAfterFork();
    ring_ = DepthRing(ring_.Capacity());
    pending_.clear();
    pendingTimes_.clear();
    pendingPos_ = 0;
}

bool DepthQueue::Closed()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return room_.closed;
}

int DepthQueue::Waiting()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return room_.waiters;
}

} // namespace mdpy
