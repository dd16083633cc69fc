#include "Peer.h"

#include "TestFrames.h"

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

namespace kelvotest {

PeerConn::PeerConn(std::unique_ptr<asio::io_context> io, asio::ip::tcp::socket socket)
    : m_io(std::move(io)), m_socket(std::move(socket))
{
    asio::error_code ignored;
    m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
}

PeerConn::~PeerConn()
{
    Close();
}

bool PeerConn::Write(const std::string& data)
{
    asio::error_code ec;
    asio::write(m_socket, asio::buffer(data), ec);
    return !ec;
}

bool PeerConn::Read(std::size_t n, std::string& out, std::chrono::milliseconds limit)
{
    out.assign(n, '\0');
    bool done = false;
    asio::error_code result;
    asio::async_read(m_socket, asio::buffer(&out[0], n), [&](const asio::error_code& ec, std::size_t) {
        done = true;
        result = ec;
    });
    m_io->restart();
    m_io->run_for(limit);
    if (!done) {
        asio::error_code ignored;
        m_socket.cancel(ignored);
        m_io->restart();
        m_io->run();
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
    m_io->restart();
    while (!closed && std::chrono::steady_clock::now() < end) {
        if (!reading) {
            reading = true;
            m_socket.async_read_some(asio::buffer(sink), onRead);
        }
        m_io->run_one_until(end);
    }
    if (reading) {
        asio::error_code ignored;
        m_socket.cancel(ignored);
        m_io->restart();
        m_io->run();
    }
    return closed;
}

void PeerConn::Close()
{
    asio::error_code ignored;
    m_socket.close(ignored);
}

Listener::Listener(const char* address) : m_acceptor(m_io)
{
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(address), 0);
    m_acceptor.open(endpoint.protocol());
    m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    m_acceptor.bind(endpoint);
    m_acceptor.listen();
    m_port = m_acceptor.local_endpoint().port();
}

std::unique_ptr<PeerConn> Listener::Accept(std::chrono::milliseconds limit)
{
    auto io = std::make_unique<asio::io_context>();
    asio::ip::tcp::socket socket(*io);
    bool done = false;
    asio::error_code result;
    m_acceptor.async_accept(socket, [&](const asio::error_code& ec) {
        done = true;
        result = ec;
    });
    m_io.restart();
    m_io.run_for(limit);
    if (!done) {
        m_acceptor.cancel();
        m_io.restart();
        m_io.run();
        return nullptr;
    }
    if (result)
        return nullptr;
    return std::make_unique<PeerConn>(std::move(io), std::move(socket));
}

void Listener::Close()
{
    asio::error_code ignored;
    m_acceptor.close(ignored);
}

unsigned short RefusingPort()
{
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();
}

}  // namespace kelvotest
