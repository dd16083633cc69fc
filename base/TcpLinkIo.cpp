// TcpLink: the receive pump and the send queue.
//
// Receive: one read completion serves as many frames as it brought:
//   size = bytes ready; p = OnRecvBuffer(size); size 0: wait for more;
//   else copy size bytes to p; OnRecvData(p, size); repeat.
// The frames a read brought are called back before the next read is tried.
// In the low-latency mode the loop itself reads a few links each turn
// (Loop::Poll); the rest, and every other mode, read through the reactor.
// Send: frames queued by any thread go out whole and in order, everything
// queued by the time a write starts in one gather write.
#include "TcpLink.h"

#include "KelvoBase.h"
#include "Loop.h"
#include "Reasons.h"
#include "inline/ForcedUnwind.h"

#include <asio/write.hpp>

#include <climits>
#include <cstring>

namespace kelvo {

namespace {

// A buffer sequence over the link's own vector: copying it into the write
// operation copies two pointers, not the vector.
class BufferSpan {
public:
    using value_type = asio::const_buffer;
    using const_iterator = const asio::const_buffer*;

    BufferSpan(const_iterator begin, const_iterator end) : begin_(begin), end_(end) {}
    const_iterator begin() const { return begin_; }
    const_iterator end() const { return end_; }

private:
    const_iterator begin_;
    const_iterator end_;
};

} // namespace

void TcpLink::StartRead()
{
    if (polled_)
        return; // read on the loop's next turn
    char* space = nullptr;
    std::size_t size = 0;
    if (!recv_.PrepareRead(space, size)) {
        // Full at its maximum and the handler takes nothing: it never will.
        Fail(ReasonMessageSize());
        return;
    }
    std::shared_ptr<TcpLink> self = shared_from_this();
    if (Loop::Get().Polling()) {
        asio::error_code ec;
        socket_.non_blocking(true, ec);
        if (!ec && Loop::Get().Poll(self)) {
            polled_ = true;
            return;
        }
    }
    socket_.async_read_some(asio::buffer(space, size),
                            [self](const asio::error_code& ec, std::size_t n) { self->OnRead(ec, n); });
}

bool TcpLink::PollOnce()
{
    if (!Alive())
        return false;
    char* space = nullptr;
    std::size_t size = 0;
    if (!recv_.PrepareRead(space, size)) {
        Fail(ReasonMessageSize());
        return false;
    }
    asio::error_code ec;
    const std::size_t n = socket_.read_some(asio::buffer(space, size), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again || ec == asio::error::interrupted)
        return true;
    return Take(ec, n);
}

void TcpLink::OnRead(const asio::error_code& ec, std::size_t n)
{
    if (Take(ec, n))
        StartRead();
}

// What a read brought, or how it failed: true when the link reads on.
bool TcpLink::Take(const asio::error_code& ec, std::size_t n)
{
    if (!Alive())
        return false;
    if (ec) {
        Fail(ReasonOf(ec));
        return false;
    }
    recv_.Commit(n);
    bool more = false;
    try {
        more = Deliver();
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...)
    {
        // A handler that threw has lost its place in the stream: the link goes
        // as lost, never as a read that silently stops.
        if (Alive())
            Fail(ReasonAborted());
        return false;
    }
    return more;
}

// False when the link ended (or its handler went away) inside a callback.
bool TcpLink::Deliver()
{
    for (;;) {
        Kelvo_TcpClientHandler* handler = core_->Handler();
        if (handler == nullptr || !Alive())
            return false;
        const std::size_t readyBytes = recv_.Ready();
        const long ready = readyBytes > LONG_MAX ? LONG_MAX : static_cast<long>(readyBytes);
        long size = 0;
        char* dest = nullptr;
        if (wantSize_ > 0) {
            if (ready < wantSize_)
                return true;
            size = wantSize_;
            dest = wantDest_;
            wantSize_ = 0;
        } else {
            if (ready == 0)
                return true;
            size = ready;
            dest = handler->OnRecvBuffer(size);
            if (core_->Handler() == nullptr || !Alive())
                return false;
            if (size <= 0 || dest == nullptr)
                return true;
            if (size > ready) {
                wantSize_ = size;
                wantDest_ = dest;
                return true;
            }
        }
        std::memcpy(dest, recv_.Data(), static_cast<std::size_t>(size));
        recv_.Consume(static_cast<std::size_t>(size));
        handler->OnRecvData(dest, size);
    }
}

void TcpLink::SetConnected(bool connected)
{
    std::lock_guard<std::mutex> lock(core_->SendMutex());
    connected_ = connected;
}

TcpLink::Enqueued TcpLink::Enqueue(Kelvo_String*& frame)
{
    if (!connected_)
        return Enqueued::Refused;
    queue_.push_back(frame);
    frame = nullptr;
    if (writeScheduled_)
        return Enqueued::Queued;
    writeScheduled_ = true;
    return Enqueued::StartWrite;
}

void TcpLink::StartWrite()
{
    if (!Alive())
        return;
    {
        std::lock_guard<std::mutex> lock(core_->SendMutex());
        if (queue_.empty()) {
            writeScheduled_ = false;
            return;
        }
        inflight_.swap(queue_);
    }
    buffers_.clear();
    for (Kelvo_String* frame : inflight_) {
        if (frame->length() > 0)
            buffers_.push_back(asio::buffer(frame->c_str(), static_cast<std::size_t>(frame->length())));
    }
    std::shared_ptr<TcpLink> self = shared_from_this();
    const asio::const_buffer* first = buffers_.data();
    asio::async_write(socket_, BufferSpan(first, first + buffers_.size()),
                      [self](const asio::error_code& ec, std::size_t) { self->OnWritten(ec); });
}

void TcpLink::OnWritten(const asio::error_code& ec)
{
    // A stale link frees its frames when it goes.
    if (!Alive())
        return;
    for (Kelvo_String* frame : inflight_)
        delete frame;
    inflight_.clear();
    if (ec) {
        Fail(ReasonOf(ec));
        return;
    }
    StartWrite();
}

} // namespace kelvo
