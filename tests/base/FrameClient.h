// A Kelvo_TcpClientHandler for the tests: reads frames the way the market-
// data client does (a 24-byte header, then exactly its body), records frames
// and connection events, and checks the library's calling order as it goes.
#pragma once

#include "KelvoBase.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelvotest {

struct ClientEvent {
    enum Kind { ConnectOk, ConnectFailed, Disconnected };
    Kind kind;
    int reason;
};

class FrameClient : public Kelvo_TcpClientHandler {
public:
    // eager: ask for a whole header or body even when fewer bytes are ready.
    explicit FrameClient(bool eager = false);
    ~FrameClient() override;

    char* OnRecvBuffer(long& size) override;
    int OnRecvData(char* buffer, long size) override;
    void OnConnectOk() override;
    int OnConnectFaild(void* reserved, int reason) override;
    int OnDisConnect(void* reserved, int reason) override;

    // Run on the loop inside the callbacks. onEvent's result is the
    // reconnect delay returned to the library (failures only).
    std::function<void(FrameClient&, std::size_t frameIndex)> onFrame;
    std::function<int(FrameClient&, const ClientEvent&)> onEvent;

    bool WaitFrames(std::size_t count, std::chrono::seconds limit = std::chrono::seconds(20));
    bool WaitEvents(std::size_t count, std::chrono::seconds limit = std::chrono::seconds(20));
    std::vector<std::string> Frames() const;
    std::vector<ClientEvent> Events() const;
    std::size_t FrameCount() const;

    // From here on any callback counts as late.
    void MarkClosed() { closed_.store(true); }
    void Reopen() { closed_.store(false); }
    int LateCallbacks() const { return late_.load(); }
    // Calls out of order, off the loop thread, or with the wrong buffer.
    int OrderErrors() const { return orderErrors_.load(); }

private:
    void Check(bool ok)
    {
        if (!ok)
            ++orderErrors_;
    }
    void Enter();
    int Record(ClientEvent event);

    const bool eager_;
    // Receive state, loop thread only.
    char header_[24];
    std::vector<char> body_;
    bool inBody_ = false;
    long asked_ = 0;
    char* askedBuffer_ = nullptr;

    std::atomic<bool> closed_{false};
    std::atomic<int> late_{0};
    std::atomic<int> orderErrors_{0};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> frames_;
    std::vector<ClientEvent> events_;
};

// Runs fn on the loop thread and waits for it.
void RunOnLoop(const std::function<void()>& fn);

// A one-shot event. Set notifies under the lock, so the waiter may destroy
// the Signal as soon as Wait returns.
class Signal {
public:
    void Set()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
        changed_.notify_all();
    }
    bool Wait(std::chrono::seconds limit = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return set_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

class Listener;
class PeerConn;

// Connects the client to the listener on loopback and waits for its
// OnConnectOk; hands back the peer's end (null when none was accepted).
std::unique_ptr<PeerConn> Connected(FrameClient& client, Listener& listener);

} // namespace kelvotest
