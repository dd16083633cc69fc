// One connection attempt and, once connected, one TCP link: resolving,
// connecting with a timeout, the receive pump and the send queue. Lives as
// long as a handler of its asynchronous operations holds it.
#pragma once

#include "RecvBuffer.h"
#include "TcpCore.h"

#include <asio/buffer.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Kelvo_String;

namespace kelvo {

class TcpLink : public std::enable_shared_from_this<TcpLink> {
public:
    TcpLink(std::shared_ptr<TcpCore> core, std::uint64_t gen);
    ~TcpLink();
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    bool Alive() const { return core_->Generation() == gen_; }

    // Loop thread.
    void Start(const std::string& host, int port);
    void Shutdown();
    void StartRead();
    void StartWrite();
    // The low-latency loop's read, one non-blocking attempt: false once the
    // link reads no more (ended, or its handler went away).
    bool PollOnce();

    // Read on the loop; set on the loop, under the core's send mutex.
    bool Connected() const { return connected_; }
    void SetConnected(bool connected);

    // With the core's send mutex held, from any thread: takes the frame when
    // connected. StartWrite: the caller must post StartWrite to the loop
    // (no write is scheduled yet; one post serves everything queued before
    // the write starts).
    enum class Enqueued { Refused, Queued, StartWrite };
    Enqueued Enqueue(Kelvo_String*& frame);

private:
    void Resolve(const std::string& host, int port);
    void ConnectTo(const asio::ip::tcp::endpoint& endpoint);
    void OnConnected(const asio::error_code& ec);
    void OnRead(const asio::error_code& ec, std::size_t n);
    bool Take(const asio::error_code& ec, std::size_t n);
    bool Deliver();
    void OnWritten(const asio::error_code& ec);
    void Fail(int reason);

    std::shared_ptr<TcpCore> core_;
    const std::uint64_t gen_;
    asio::ip::tcp::socket socket_;
    asio::ip::tcp::resolver resolver_;
    asio::steady_timer connectTimer_;

    // Guarded by the core's send mutex.
    bool connected_ = false;
    bool writeScheduled_ = false;
    std::vector<Kelvo_String*> queue_;

    RecvBuffer recv_;
    long wantSize_ = 0; // a request larger than was ready, kept until it is
    char* wantDest_ = nullptr;
    bool polled_ = false; // the low-latency loop reads it (Loop::Poll)

    // Loop thread: the frames being written and their buffers, kept to
    // reuse their memory.
    std::vector<Kelvo_String*> inflight_;
    std::vector<asio::const_buffer> buffers_;
};

} // namespace kelvo
