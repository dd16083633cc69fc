// The sending half of a session: one write in flight at a time, queued
// frames gathered into it, and the faults that act on what is sent.
#include "FrontSession.h"

#include <algorithm>

#ifdef __linux__
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace mdfront {

namespace {

constexpr std::size_t MaxGatherBytes = 256 * 1024;
constexpr std::size_t MaxGatherBuffers = 64;
// After a fault half-closes a link, give the client this long to close its end.
constexpr std::chrono::seconds HalfCloseGrace{5};

} // namespace

void FrontSession::QueueFrame(Bytes frame, SentFrame record)
{
    if (closed_)
        return;
    if (silent_ || closing_) {
        rec_.Update(index_, [](ConnectionStats& s) { ++s.frames_suppressed; });
        return;
    }
    record.header = mdlink::DecodeHeader(frame.data());
    for (const auto& f : faults_)
        if (f->TakeFrame(*this, frame, record))
            return;
    record.kind = SentKind::Frame;
    ++framesQueued_;
    const std::uint64_t stamp = cfg_.stamp_sequence && record.has_depth ? stamp_ : 0;
    QueueBytes(std::move(frame), std::move(record), stamp);
    for (const auto& f : faults_)
        f->AfterFrame(*this);
}

void FrontSession::QueueFaultBytes(Bytes bytes, SentFrame record, const std::string& fault)
{
    FaultBegins(fault);
    QueueBytes(std::move(bytes), std::move(record));
}

void FrontSession::QueueBytes(Bytes bytes, SentFrame record, std::uint64_t stamp)
{
    record.bytes = bytes;
    rec_.Sent(index_, std::move(record));
    queuedBytes_ += bytes.size();
    Enqueue(Queued{std::move(bytes), stamp, faultBegun_});
}

// Runs under the recorder's lock, once q's last byte is in the socket.
void FrontSession::Written(const Queued& q, ConnectionStats& s) const
{
    if (q.stamp == 0)
        return;
    s.stamp_written = q.stamp;
    if (!q.afterFault)
        s.stamp_before_fault = q.stamp;
}

// The first fault that breaks the stream: whatever is queued from now on
// comes after it.
void FrontSession::FaultBegins(const std::string& what)
{
    if (faultBegun_)
        return;
    faultBegun_ = true;
    rec_.Update(index_, [&what](ConnectionStats& s) {
        s.faulted = true;
        s.fault = what;
    });
}

void FrontSession::WriteNext()
{
    if (writing_ || queue_.empty() || closed_)
        return;
    writing_ = true;
    auto self = shared_from_this();
    if (byteDelay_) {
        asio::async_write(socket_, asio::buffer(queue_.front().bytes.data() + trickleOffset_, 1),
                          [self](const asio::error_code& ec, std::size_t) { self->OnTrickleWritten(ec); });
        return;
    }
    gather_.clear();
    std::size_t total = 0;
    for (const Queued& q : queue_) {
        if (gather_.size() == MaxGatherBuffers || total >= MaxGatherBytes)
            break;
        gather_.push_back(asio::buffer(q.bytes));
        total += q.bytes.size();
    }
    const std::size_t count = gather_.size();
    asio::async_write(socket_, gather_, [self, count](const asio::error_code& ec, std::size_t n) {
        self->OnWritten(ec, n, count);
    });
}

void FrontSession::OnWritten(const asio::error_code& ec, std::size_t n, std::size_t count)
{
    writing_ = false;
    if (closed_)
        return;
    if (ec) {
        CloseNow("write error: " + ec.message());
        return;
    }
    rec_.Update(index_, [this, n, count](ConnectionStats& s) {
        s.bytes_written += n;
        ++s.write_calls;
        for (std::size_t i = 0; i < count; ++i)
            Written(queue_[i], s);
    });
    for (std::size_t i = 0; i < count; ++i) {
        queuedBytes_ -= queue_.front().bytes.size();
        queue_.pop_front();
    }
    AfterWrite();
}

void FrontSession::OnTrickleWritten(const asio::error_code& ec)
{
    if (closed_)
        return;
    if (ec) {
        writing_ = false;
        CloseNow("write error: " + ec.message());
        return;
    }
    const bool whole = ++trickleOffset_ == queue_.front().bytes.size();
    rec_.Update(index_, [this, whole](ConnectionStats& s) {
        ++s.bytes_written;
        ++s.write_calls;
        if (whole)
            Written(queue_.front(), s);
    });
    if (whole) {
        queuedBytes_ -= queue_.front().bytes.size();
        queue_.pop_front();
        trickleOffset_ = 0;
    }
    trickleTimer_.expires_after(*byteDelay_);
    auto self = shared_from_this();
    trickleTimer_.async_wait([self](const asio::error_code& e) {
        self->writing_ = false;
        if (!e && !self->closed_)
            self->AfterWrite();
    });
}

void FrontSession::AfterWrite()
{
    if (NothingQueued() && closing_) {
        HalfClose();
        return;
    }
    WriteNext();
    if (FloodsSocket())
        Flood();
}

void FrontSession::AfterLoginFaults()
{
    if (faultsDone_)
        return;
    faultsDone_ = true;
    for (const auto& f : faults_)
        f->AfterLogin(*this);
}

BodyShape FrontSession::Shape(BodyKind kind, bool firstDepth) const
{
    BodyShape shape;
    for (const auto& f : faults_)
        f->ShapeBody(kind, firstDepth, shape);
    return shape;
}

void FrontSession::ApplyCut(Bytes& body, const BodyShape& shape)
{
    if (shape.cut_to > 0)
        body.resize(std::min(body.size(), shape.cut_to));
}

void FrontSession::After(std::chrono::milliseconds delay, std::function<void()> act)
{
    faultTimers_.push_back(std::make_unique<asio::steady_timer>(socket_.get_executor(), delay));
    auto self = shared_from_this();
    faultTimers_.back()->async_wait([self, act = std::move(act)](const asio::error_code& e) {
        if (!e && !self->closed_)
            act();
    });
}

Bytes FrontSession::RandomBytes(std::size_t n)
{
    Bytes out(n);
    std::uniform_int_distribution<int> byte(0, 255);
    for (unsigned char& b : out)
        b = static_cast<unsigned char>(byte(rng_));
    return out;
}

void FrontSession::GoSilent(const std::string& why)
{
    if (silent_)
        return;
    FaultBegins(why);
    silent_ = true;
    pushTimer_.cancel();
    forQuoteTimer_.cancel();
    rec_.Update(index_, [](ConnectionStats& s) { s.silent = true; });
    Event("silent (" + why + ")");
}

void FrontSession::CloseAfterDrain(const std::string& reason)
{
    if (closing_ || closed_)
        return;
    FaultBegins(reason);
    closing_ = true;
    closeReason_ = reason;
    pushTimer_.cancel();
    forQuoteTimer_.cancel();
    if (!writing_ && NothingQueued())
        HalfClose();
}

// Ends the sending side so the client reads everything sent, then EOF; the
// socket closes when the client closes its end, or after a grace period.
void FrontSession::HalfClose()
{
    // Recorded first, so whoever sees the end of the stream also sees why.
    ReportClosed(closeReason_);
    asio::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
    halfClosed_ = true;
    closeTimer_.expires_after(HalfCloseGrace);
    auto self = shared_from_this();
    closeTimer_.async_wait([self](const asio::error_code& e) {
        if (!e)
            self->CloseNow(self->closeReason_);
    });
}

void FrontSession::CloseNow(const std::string& reason)
{
    if (closed_)
        return;
    closed_ = true;
    FaultBegins(reason);
    for (asio::steady_timer* t : {&pushTimer_, &forQuoteTimer_, &trickleTimer_, &closeTimer_, &delayTimer_})
        t->cancel();
    delayed_.Clear();
    for (const auto& t : faultTimers_)
        t->cancel();
    ReportClosed(reason);
    // Unread bytes at close make the kernel reset the link, and a reset
    // throws away what the client has not received yet: read them first,
    // and end sending before closing.
    DiscardUnread();
    const bool acknowledged = (halfClosed_ && peerEnded_) || SendQueueEmpty();
    asio::error_code ec;
    // Cancelled before the close: Windows aborts what is pending at close,
    // but Wine can leave a send to a full window pending for ever, and
    // destroying the io_context then waits for it.
    socket_.cancel(ec);
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    rec_.Update(index_, [acknowledged](ConnectionStats& s) {
        s.socket_closed = true;
        s.all_acknowledged = acknowledged;
    });
}

void FrontSession::DiscardUnread()
{
    asio::error_code ec;
    socket_.non_blocking(true, ec);
    std::array<unsigned char, 4096> scratch;
    for (int i = 0; i < 256 && !ec && socket_.available(ec) > 0; ++i)
        socket_.read_some(asio::buffer(scratch), ec);
}

// Has the client's end acknowledged every byte written? Only Linux tells.
bool FrontSession::SendQueueEmpty()
{
#ifdef __linux__
    int unacknowledged = 0;
    return ::ioctl(socket_.native_handle(), SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
#else
    return false;
#endif
}

void FrontSession::ReportClosed(const std::string& reason)
{
    if (reportedClosed_)
        return;
    reportedClosed_ = true;
    rec_.Update(index_, [&reason](ConnectionStats& s) {
        s.open = false;
        s.close_reason = reason;
    });
    Event("closed: " + reason);
}

void FrontSession::PostClose(const std::string& reason)
{
    auto self = shared_from_this();
    asio::post(socket_.get_executor(), [self, reason] { self->CloseAfterDrain(reason); });
}

void FrontSession::PostSilent()
{
    auto self = shared_from_this();
    asio::post(socket_.get_executor(), [self] { self->GoSilent("asked by the test"); });
}

void FrontSession::PostAbort()
{
    auto self = shared_from_this();
    asio::post(socket_.get_executor(), [self] { self->CloseNow("aborted on request"); });
}

void FrontSession::PostRaw(Bytes bytes)
{
    auto self = shared_from_this();
    asio::post(socket_.get_executor(), [self, b = std::move(bytes)]() mutable {
        if (self->closed_ || self->closing_)
            return;
        self->FaultBegins("raw bytes");
        SentFrame rec;
        rec.kind = SentKind::Raw;
        self->QueueBytes(std::move(b), std::move(rec));
    });
}

} // namespace mdfront
