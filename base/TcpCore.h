// The state of one Kelvo_TcpClientHandler, shared with its asynchronous
// operations.
//
// Kelvo_TcpClientHandler --owns--> Kelvo_ConnState --shared--> TcpCore
//                                                                | live (current attempt or link)
//   asynchronous handlers --shared--> TcpLink --shared--> TcpCore
//
// Every connection attempt is a new TcpLink with a new generation number;
// Connect, Close, Abort and the loss of a link bump TcpCore::gen, so handlers
// of an older link find themselves stale and touch nothing. The handler
// pointer is cleared (on the loop) by the destructor, so no callback reaches
// a destroyed object. Everything but Send runs on the loop thread.
#pragma once

#include <asio/steady_timer.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class Kelvo_String;
class Kelvo_TcpClientHandler;

namespace kelvo {

class TcpLink;

class TcpCore : public std::enable_shared_from_this<TcpCore> {
public:
    explicit TcpCore(Kelvo_TcpClientHandler* handler);
    ~TcpCore();

    // Loop thread.
    void Connect(const std::string& host, int port);
    void Close();
    void Detach(); // Close, and no callback ever again (destructor)
    void Abort();
    void SetReconnectAddr(const std::string& host, int port);

    // Any thread: 1 and the frame taken, or 0 when not connected.
    int Send(Kelvo_String*& frame);

    // From the current link, on the loop.
    void LinkUp(TcpLink& link);
    void LinkLost(TcpLink& link, int reason);

    Kelvo_TcpClientHandler* Handler() const { return handler_; }
    std::uint64_t Generation() const { return gen_; }
    std::mutex& SendMutex() { return sendMutex_; }

private:
    void StartAttempt();
    void EndLink();
    void Report(int reason, bool wasConnected);
    void ScheduleRetry(int delayMs);

    Kelvo_TcpClientHandler* handler_;
    std::uint64_t gen_ = 0;
    std::string host_;
    int port_ = 0;
    bool redirect_ = false;
    std::string redirectHost_;
    int redirectPort_ = 0;
    bool retryPending_ = false;
    asio::steady_timer retryTimer_;

    // Written on the loop under the mutex; Send reads it under the mutex.
    std::mutex sendMutex_;
    std::shared_ptr<TcpLink> live_;
};

} // namespace kelvo

struct Kelvo_ConnState {
    std::shared_ptr<kelvo::TcpCore> core;
    unsigned generation; // ForkGeneration.h
};
