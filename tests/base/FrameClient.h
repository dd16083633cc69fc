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
    void MarkClosed() { m_closed.store(true); }
    void Reopen() { m_closed.store(false); }
    int LateCallbacks() const { return m_late.load(); }
    // Calls out of order, off the loop thread, or with the wrong buffer.
    int OrderErrors() const { return m_orderErrors.load(); }

private:
    void Check(bool ok) { if (!ok) ++m_orderErrors; }
    void Enter();
    int Record(ClientEvent event);

    const bool m_eager;
    // Receive state, loop thread only.
    char m_header[24];
    std::vector<char> m_body;
    bool m_inBody = false;
    long m_asked = 0;
    char* m_askedBuffer = nullptr;

    std::atomic<bool> m_closed{false};
    std::atomic<int> m_late{0};
    std::atomic<int> m_orderErrors{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_frames;
    std::vector<ClientEvent> m_events;
};

// Runs fn on the loop thread and waits for it.
void RunOnLoop(const std::function<void()>& fn);

// A one-shot event. Set notifies under the lock, so the waiter may destroy
// the Signal as soon as Wait returns.
class Signal {
public:
    void Set()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
        m_changed.notify_all();
    }
    bool Wait(std::chrono::seconds limit = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

class Listener;
class PeerConn;

// Connects the client to the listener on loopback and waits for its
// OnConnectOk; hands back the peer's end (null when none was accepted).
std::unique_ptr<PeerConn> Connected(FrameClient& client, Listener& listener);

}  // namespace kelvotest
