#include "FrontRecorder.h"

#include <stdexcept>

namespace mdfront {

Bytes SentFrame::Body() const
{
    if (bytes.size() <= mdlink::FrameHeaderSize)
        return Bytes();
    return Bytes(bytes.begin() + mdlink::FrameHeaderSize, bytes.end());
}

std::size_t FrontRecorder::Open(const std::string& peer)
{
    std::lock_guard<std::mutex> lk(mu_);
    conns_.emplace_back();
    conns_.back().stats.peer = peer;
    changes_.Changed();
    return conns_.size() - 1;
}

void FrontRecorder::Received(std::size_t conn, ReceivedFrame frame)
{
    std::lock_guard<std::mutex> lk(mu_);
    ConnectionRecord& c = conns_.at(conn);
    ++c.stats.frames_received;
    if (frame.header.MsgType == mdlink::MsgHeartBeat)
        ++c.stats.heartbeats_received;
    if (c.received.size() < limit_)
        c.received.push_back(std::move(frame));
    changes_.Changed();
}

void FrontRecorder::Sent(std::size_t conn, SentFrame frame)
{
    std::lock_guard<std::mutex> lk(mu_);
    ConnectionRecord& c = conns_.at(conn);
    if (frame.kind == SentKind::Frame) {
        ++c.stats.frames_sent;
        if (frame.header.MsgType == mdlink::MsgDepthMarketData)
            ++c.stats.depth_sent;
        if (frame.header.MsgType == mdlink::MsgForQuoteRsp)
            ++c.stats.forquote_sent;
    }
    if (c.sent.size() < limit_)
        c.sent.push_back(std::move(frame));
    changes_.Changed();
}

void FrontRecorder::Update(std::size_t conn, const std::function<void(ConnectionStats&)>& change)
{
    std::lock_guard<std::mutex> lk(mu_);
    change(conns_.at(conn).stats);
    changes_.Changed();
}

std::size_t FrontRecorder::Count() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return conns_.size();
}

ConnectionStats FrontRecorder::Stats(std::size_t conn) const
{
    std::lock_guard<std::mutex> lk(mu_);
    if (conn >= conns_.size())
        throw std::out_of_range("no such connection");
    return conns_[conn].stats;
}

ConnectionRecord FrontRecorder::Record(std::size_t conn) const
{
    std::lock_guard<std::mutex> lk(mu_);
    if (conn >= conns_.size())
        throw std::out_of_range("no such connection");
    return conns_[conn];
}

bool FrontRecorder::WaitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& pred) const
{
    return changes_.WaitUntil(mu_, timeout, pred);
}

} // namespace mdfront
