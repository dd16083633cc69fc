// The far end of the base-layer tests: a loopback listener and its accepted
// connections, on plain Asio with their own io_contexts (never the library's
// loop). Every wait has a generous upper bound.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <memory>
#include <string>

namespace kelvotest {

constexpr std::chrono::seconds kLimit(20);

class PeerConn {
public:
    PeerConn(std::unique_ptr<asio::io_context> io, asio::ip::tcp::socket socket);
    ~PeerConn();

    // Blocking; false once the connection is gone.
    bool Write(const std::string& data);
    bool Read(std::size_t n, std::string& out, std::chrono::milliseconds limit = kLimit);
    bool ReadFrame(std::string& frame, std::chrono::milliseconds limit = kLimit);
    // Reads and drops everything until the client closes (true) or the limit.
    bool WaitClosed(std::chrono::milliseconds limit = kLimit);
    void Close();

private:
    std::unique_ptr<asio::io_context> io_;
    asio::ip::tcp::socket socket_;
};

class Listener {
public:
    explicit Listener(const char* address = "127.0.0.1");
    unsigned short Port() const { return port_; }
    // Null when no client connected within the limit.
    std::unique_ptr<PeerConn> Accept(std::chrono::milliseconds limit = kLimit);
    void Close();

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    unsigned short port_;
};

// A loopback port on which nothing listens (bound, then released).
unsigned short RefusingPort();

} // namespace kelvotest
