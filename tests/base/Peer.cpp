#include "Peer.h"

#include "TestFrames.h"

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

namespace kelvotest {

PeerConn::PeerConn(std::unique_ptr<asio::io_context> io, asio::ip::tcp::socket socket)
    : io_(std::move(io)), socket_(std::move(socket))
{
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
}

PeerConn::~PeerConn()
{
    Close();
}

bool PeerConn::Write(const std::string& data)
{
    asio::error_code ec;
    asio::write(socket_, asio::buffer(data), ec);
    return !ec;
}

bool PeerConn::Read(std::size_t n, std::string& out, std::chrono::milliseconds limit)
{
    out.assign(n, '\0');
    bool done = false;
    asio::error_code result;
    asio::async_read(socket_, asio::buffer(&out[0], n), [&](const asio::error_code& ec, std::size_t) {
        done = true;
        result = ec;
    });
    io_->restart();
    io_->run_for(limit);
    if (!done) {
        asio::error_code ignored;
        socket_.cancel(ignored);
        io_->restart();
        io_->run();
        return false;
    }
    return !result;
}

bool PeerConn::ReadFrame(std::string& frame, std::chrono::milliseconds limit)
{
    std::string header;
    std::string body;
    if (!Read(kHeaderSize, header, limit))
        return false;
    if (!Read(BodyLengthOf(header.data()), body, limit))
        return false;
    frame = header + body;
    return true;
}

bool PeerConn::WaitClosed(std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    char sink[65536];
    bool closed = false;
    bool reading = false;
    auto onRead = [&](const asio::error_code& ec, std::size_t) {
        reading = false;
        if (ec)
            closed = true;
    };
    io_->restart();
    while (!closed && std::chrono::steady_clock::now() < end) {
        if (!reading) {
            reading = true;
            socket_.async_read_some(asio::buffer(sink), onRead);
        }
        io_->run_one_until(end);
    }
    if (reading) {
        asio::error_code ignored;
        socket_.cancel(ignored);
        io_->restart();
        io_->run();
    }
    return closed;
}

void PeerConn::Close()
{
    asio::error_code ignored;
    socket_.close(ignored);
}

Listener::Listener(const char* address) : acceptor_(io_)
{
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(address), 0);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
}

std::unique_ptr<PeerConn> Listener::Accept(std::chrono::milliseconds limit)
{
    auto io = std::make_unique<asio::io_context>();
    asio::ip::tcp::socket socket(*io);
    bool done = false;
    asio::error_code result;
    acceptor_.async_accept(socket, [&](const asio::error_code& ec) {
        done = true;
        result = ec;
    });
    io_.restart();
    io_.run_for(limit);
    if (!done) {
        acceptor_.cancel();
        io_.restart();
        io_.run();
        return nullptr;
    }
    if (result)
        return nullptr;
    return std::make_unique<PeerConn>(std::move(io), std::move(socket));
}

void Listener::Close()
{
    asio::error_code ignored;
    acceptor_.close(ignored);
}

unsigned short RefusingPort()
{
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();
}

} // namespace kelvotest
