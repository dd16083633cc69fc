#include "DepthQueue.h"

#include "Records.h"

#include <algorithm>
#include <cstring>

namespace py = pybind11;

namespace mdpy {

namespace {

constexpr std::size_t CopyChunk = 4096; // records a batch copies per lock
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
{}

void DepthQueue::Push(const Depth& d, std::int64_t nanos)
{
    WaitRoom::Wake w;
    {
        std::lock_guard<std::mutex> lk(room_.mu);
        received_ += 1;
        if (ring_.Push(d, nanos))
            dropped_ += 1;
        w = room_.DepthAdded(ring_.Size());
    }
    room_.Notify(w);
}

void DepthQueue::CountPushed()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    received_ += 1;
    consumed_ += 1;
}

// One record at a time off the ring itself, the lock taken per record: no
// reader holds records the ring has let go of, so the oldest queued record
// is always the one a full queue drops, and concurrent readers cannot
// deliver out of order what they took in turn.
py::object DepthQueue::Next(double timeout)
{
    RefuseWaitInsideCallback("next_tick", timeout);
    Depth d;
    std::int64_t nanos = 0;
    auto take = [&] {
        const std::size_t n = ring_.Take(1, [&](const Depth* r, const std::int64_t* t, std::size_t) {
            std::memcpy(static_cast<void*>(&d), r, sizeof d);
            nanos = *t;
        });
        consumed_ += n;
        return n == 1;
    };
    bool got;
    {
        DepthRing::Storage drained; // freed after the lock
        // The loop thread never waits for the GIL holding this lock: safe
        // to take with the GIL held, and cheaper than letting it go.
        std::lock_guard<std::mutex> lk(room_.mu);
        got = take();
        if (!got)
            drained = ring_.TakeStorageIfDrained();
    }
    if (!got && timeout != 0)
        got = room_.Wait(timeout, take);
    return got ? Steal(NewDepth(d, nanos, encoding_)) : py::none();
}

py::object DepthQueue::TakeBatch(std::size_t max, double timeout, std::size_t least, bool withTime)
{
    RefuseWaitInsideCallback("batch", timeout);
    const std::size_t stride = sizeof(Depth) + (withTime ? TimeSize : 0);
    least = std::max<std::size_t>(1, std::min({least, max, ring_.Capacity()}));
    if (max > 0) {
        {
            std::lock_guard<std::mutex> lk(room_.mu);
            room_.WaitForDepth(least);
        }
        room_.Wait(timeout, [&] { return ring_.Size() >= least; });
        std::lock_guard<std::mutex> lk(room_.mu);
        room_.DoneWaitingForDepth();
    }
    const std::size_t count = max == 0 ? 0 : std::min(max, Queued());
    py::object out = Steal(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * stride)));
    if (count == 0)
        return out;
    unsigned char* dst = reinterpret_cast<unsigned char*>(PyByteArray_AS_STRING(out.ptr()));
    const std::size_t n = CopyOut(dst, count, withTime);
    {
        DepthRing::Storage drained; // freed after the lock
        std::lock_guard<std::mutex> lk(room_.mu);
        drained = ring_.TakeStorageIfDrained();
    }
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
        consumed_ += got;
        if (got == 0)
            break;
    }
    return n;
}

std::size_t DepthQueue::Queued()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return ring_.Size();
}

std::size_t DepthQueue::Allocated()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return ring_.Allocated();
}

py::tuple DepthQueue::Counters()
{
    std::uint64_t received, consumed, dropped, queued;
    {
        std::lock_guard<std::mutex> lk(room_.mu);
        received = received_;
        consumed = consumed_;
        dropped = dropped_;
        queued = ring_.Size();
    }
    return py::make_tuple(received, consumed, dropped, queued);
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
    // Nothing of the parent's is queued: what it queued counts as dropped here.
    dropped_ = received_ - consumed_;
}

bool DepthQueue::Closed()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return room_.closed;
}

std::uint64_t DepthQueue::Received()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return received_;
}

std::uint64_t DepthQueue::Consumed()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return consumed_;
}

std::uint64_t DepthQueue::Dropped()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return dropped_;
}

int DepthQueue::Waiting()
{
    std::lock_guard<std::mutex> lk(room_.mu);
    return room_.waiters;
}

} // namespace mdpy
