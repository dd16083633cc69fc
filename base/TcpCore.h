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
    void Detach();  // Close, and no callback ever again (destructor)
    void Abort();
    void SetReconnectAddr(const std::string& host, int port);

    // Any thread: 1 and the frame taken, or 0 when not connected.
    int Send(Kelvo_String*& frame);

    // From the current link, on the loop.
    void LinkUp(TcpLink& link);
    void LinkLost(TcpLink& link, int reason);

    Kelvo_TcpClientHandler* Handler() const { return m_handler; }
    std::uint64_t Generation() const { return m_gen; }
    std::mutex& SendMutex() { return m_sendMutex; }

private:
    void StartAttempt();
    void EndLink();
    void Report(int reason, bool wasConnected);
    void ScheduleRetry(int delayMs);

    Kelvo_TcpClientHandler* m_handler;
    std::uint64_t m_gen = 0;
    std::string m_host;
    int m_port = 0;
    bool m_redirect = false;
    std::string m_redirectHost;
    int m_redirectPort = 0;
    bool m_retryPending = false;
    asio::steady_timer m_retryTimer;

    // Written on the loop under the mutex; Send reads it under the mutex.
    std::mutex m_sendMutex;
    std::shared_ptr<TcpLink> m_live;
};

}  // namespace kelvo

struct Kelvo_ConnState {
    std::shared_ptr<kelvo::TcpCore> core;
    unsigned generation;  // ForkGeneration.h
};
