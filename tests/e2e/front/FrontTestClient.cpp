#include "FrontTestClient.h"

#include "MdApi.h"

#include <cstring>

namespace fronttest {

FrontTestClient::FrontTestClient(std::uint16_t port) : socket_(io_)
{
    socket_.connect({asio::ip::make_address("127.0.0.1"), port});
    socket_.set_option(asio::ip::tcp::no_delay(true));
}

void FrontTestClient::Send(const Bytes& bytes)
{
    asio::write(socket_, asio::buffer(bytes));
}

void FrontTestClient::SendFrame(std::uint32_t marker, std::uint32_t type, std::int32_t requestId,
                                const Bytes& body)
{
    Send(mdfront::MakeFrame(type, requestId, false, body, marker));
}

void FrontTestClient::SendLogin(std::int32_t requestId, const std::string& user, const std::string& password,
                                const std::string& broker)
{
    SendFrame(mdlink::MarkerText, mdlink::MsgUserLogin, requestId, LoginBody(user, password, broker));
}

void FrontTestClient::SendList(std::uint32_t type, std::int32_t requestId, const std::string& ids)
{
    SendFrame(mdlink::MarkerText, type, requestId, TextBytes(ids));
}

void FrontTestClient::SendHeartBeat(std::int32_t requestId)
{
    SendFrame(mdlink::MarkerBinary, mdlink::MsgHeartBeat, requestId, Bytes());
}

bool FrontTestClient::RunFor(std::chrono::milliseconds timeout, bool& done)
{
    io_.restart();
    io_.run_for(timeout);
    if (!done) {
        // Cancel and let the aborted handler run, so nothing outlives the call.
        asio::error_code ec;
        socket_.cancel(ec);
        io_.restart();
        io_.run();
    }
    return done;
}

bool FrontTestClient::ReadExactly(std::size_t n, Bytes& out, std::chrono::milliseconds timeout)
{
    out.assign(n, 0);
    if (n == 0)
        return true;
    bool done = false;
    bool ok = false;
    asio::async_read(socket_, asio::buffer(out), [&](const asio::error_code& ec, std::size_t) {
        done = true;
        ok = !ec;
    });
    return RunFor(timeout, done) && ok;
}

std::optional<Frame> FrontTestClient::ReadFrame(std::chrono::milliseconds timeout)
{
    Bytes head;
    if (!ReadExactly(mdlink::FrameHeaderSize, head, timeout))
        return std::nullopt;
    Frame f;
    f.header = mdlink::DecodeHeader(head.data());
    if (!ReadExactly(f.header.BodyLength, f.body, timeout))
        return std::nullopt;
    return f;
}

std::optional<Frame> FrontTestClient::ReadFrameOfType(std::uint32_t type, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        std::optional<Frame> f = ReadFrame(left);
        if (!f || f->header.MsgType == type)
            return f;
    }
}

bool FrontTestClient::ReadToEof(Bytes& out, std::chrono::milliseconds timeout)
{
    out.clear();
    bool done = false;
    bool eof = false;
    Bytes chunk(65536);
    std::function<void()> readMore = [&] {
        socket_.async_read_some(asio::buffer(chunk), [&](const asio::error_code& ec, std::size_t n) {
            out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
            if (ec) {
                done = true;
                eof = ec == asio::error::eof;
                return;
            }
            readMore();
        });
    };
    readMore();
    return RunFor(timeout, done) && eof;
}

Bytes LoginBody(const std::string& user, const std::string& password, const std::string& broker)
{
    CThostFtdcReqUserLoginField req;
    std::memset(&req, 0, sizeof req);
    mdfront::CopyText(req.BrokerID, sizeof req.BrokerID, broker);
    mdfront::CopyText(req.UserID, sizeof req.UserID, user);
    mdfront::CopyText(req.Password, sizeof req.Password, password);
    mdfront::CopyText(req.TradingDay, sizeof req.TradingDay, "20260101");
    return mdfront::RecordBytes(&req, sizeof req);
}

Bytes TextBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace fronttest
