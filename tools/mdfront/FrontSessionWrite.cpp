// The sending half of a session: one write in flight at a time, queued
// frames gathered into it, and the faults that act on what is sent.
#include "FrontSession.h"

#include <algorithm>

namespace mdfront {

namespace {

constexpr std::size_t MaxGatherBytes = 256 * 1024;
constexpr std::size_t MaxGatherBuffers = 64;
constexpr std::size_t AnnouncedBytesSent = 4096;
// After a fault half-closes a link, give the client this long to close its end.
constexpr std::chrono::seconds HalfCloseGrace{5};

// Message types no client knows, for the unknown-frames fault. A heartbeat
// type that carries a body is one of them.
const std::uint32_t UnknownTypes[] = {0x40050099, 0x20050004, mdlink::MsgHeartBeat, 0x7F000001,
                                      0x40050003};

} // namespace

void FrontSession::QueueFrame(Bytes frame, SentFrame record)
{
    if (closed_)
        return;
    if (silent_ || closing_) {
        rec_.Update(index_, [](ConnectionStats& s) { ++s.frames_suppressed; });
        return;
    }
    const FrontFaults& f = cfg_.faults;
    record.header = mdlink::DecodeHeader(frame.data());
    if (f.close_mid_body_after_frames && framesQueued_ >= *f.close_mid_body_after_frames &&
        record.header.BodyLength > 0) {
        QueueCut(std::move(frame), std::move(record));
        return;
    }
    record.kind = SentKind::Frame;
    ++framesQueued_;
    QueueBytes(std::move(frame), std::move(record));
    if (f.silent_after_frames && framesQueued_ >= *f.silent_after_frames)
        GoSilent("silent-after-frames fault");
    if (f.close_after_frames && framesQueued_ >= *f.close_after_frames)
        CloseAfterDrain("close-after-frames fault");
}

void FrontSession::QueueCut(Bytes frame, SentFrame record)
{
    const std::size_t body = frame.size() - mdlink::FrameHeaderSize;
    frame.resize(mdlink::FrameHeaderSize + std::max<std::size_t>(1, body / 2));
    record.kind = SentKind::PartialFrame;
    QueueBytes(std::move(frame), std::move(record));
    CloseAfterDrain("close-mid-body fault");
}

void FrontSession::QueueBytes(Bytes bytes, SentFrame record)
{
    record.bytes = bytes;
    rec_.Sent(index_, std::move(record));
    queuedBytes_ += bytes.size();
    queue_.push_back(std::move(bytes));
    WriteNext();
}

void FrontSession::WriteNext()
{
    if (writing_ || queue_.empty() || closed_)
        return;
    writing_ = true;
    auto self = shared_from_this();
    if (cfg_.faults.trickle_delay) {
        asio::async_write(socket_, asio::buffer(queue_.front().data() + trickleOffset_, 1),
                          [self](const asio::error_code& ec, std::size_t) {
                              self->OnTrickleWritten(ec);
                          });
        return;
    }
    gather_.clear();
    std::size_t total = 0;
    for (const Bytes& b : queue_) {
        if (gather_.size() == MaxGatherBuffers || total >= MaxGatherBytes)
            break;
        gather_.push_back(asio::buffer(b));
        total += b.size();
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
    for (std::size_t i = 0; i < count; ++i) {
        queuedBytes_ -= queue_.front().size();
        queue_.pop_front();
    }
    rec_.Update(index_, [n](ConnectionStats& s) {
        s.bytes_written += n;
        ++s.write_calls;
    });
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
    rec_.Update(index_, [](ConnectionStats& s) {
        ++s.bytes_written;
        ++s.write_calls;
    });
    if (++trickleOffset_ == queue_.front().size()) {
        queuedBytes_ -= queue_.front().size();
        queue_.pop_front();
        trickleOffset_ = 0;
    }
    trickleTimer_.expires_after(*cfg_.faults.trickle_delay);
    auto self = shared_from_this();
    trickleTimer_.async_wait([self](const asio::error_code& e) {
        self->writing_ = false;
        if (!e && !self->closed_)
            self->AfterWrite();
    });
}

void FrontSession::AfterWrite()
{
    if (queue_.empty() && closing_) {
        HalfClose();
        return;
    }
    WriteNext();
    if (cfg_.rate <= 0)
        Flood();
}

void FrontSession::AfterLoginFaults()
{
    if (faultsDone_)
        return;
    faultsDone_ = true;
    const FrontFaults& f = cfg_.faults;
    for (std::size_t i = 0; i < f.unknown_frames; ++i) {
        const std::uint32_t type = UnknownTypes[i % (sizeof UnknownTypes / sizeof UnknownTypes[0])];
        QueueFrame(MakeFrame(type, 0, false, RandomBytes(f.unknown_body_length)), SentFrame{});
    }
    if (f.garbage_after_login > 0 && !silent_ && !closing_) {
        SentFrame rec;
        rec.kind = SentKind::Garbage;
        QueueBytes(RandomBytes(f.garbage_after_login), std::move(rec));
    }
    if (f.announce_body_length > 0 && !silent_ && !closing_) {
        Bytes filler = RandomBytes(std::min<std::size_t>(f.announce_body_length, AnnouncedBytesSent));
        Bytes bytes = MakeFrame(mdlink::MsgDepthMarketData, 0, false, filler);
        mdlink::FrameHeader h = mdlink::DecodeHeader(bytes.data());
        h.BodyLength = f.announce_body_length;
        mdlink::EncodeHeader(h, bytes.data());
        SentFrame rec;
        rec.kind = SentKind::Announce;
        rec.header = h;
        QueueBytes(std::move(bytes), std::move(rec));
        GoSilent("announced an oversized body");
    }
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
    closing_ = true;
    closeReason_ = reason;
    pushTimer_.cancel();
    forQuoteTimer_.cancel();
    if (!writing_ && queue_.empty())
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
    for (asio::steady_timer* t : {&pushTimer_, &forQuoteTimer_, &trickleTimer_, &silentTimer_,
                                  &closeTimer_})
        t->cancel();
    ReportClosed(reason);
    asio::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
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

void FrontSession::PostRaw(Bytes bytes)
{
    auto self = shared_from_this();
    asio::post(socket_.get_executor(), [self, b = std::move(bytes)]() mutable {
        if (self->closed_ || self->closing_)
            return;
        SentFrame rec;
        rec.kind = SentKind::Raw;
        self->QueueBytes(std::move(b), std::move(rec));
    });
}

} // namespace mdfront
