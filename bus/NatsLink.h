// One link to the bus, made as operators expect: any of the listed servers
// (and those the cluster announces), credentials from a file or the
// environment, TLS, and reconnection to any server for as long as the
// process runs.
//
// Two ways to come back after a failure:
//   ByClient         the client library reconnects the same connection;
//                    subscriptions carry on (the readers)
//   FreshConnection  the failed connection is closed and a new one opened
//                    (the relay). The client library's own reconnection
//                    sends again, after reconnecting, bytes that were
//                    waiting to go out when the link failed; a record among
//                    them would be stored before the relay's retries of
//                    older ones. A fresh connection sends nothing old.
#pragma once

#include "BusOptions.h"
#include "Throttle.h"

#include <nats/nats.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mdrelay {

class NatsLink {
public:
    enum class Reconnect { ByClient, FreshConnection };
    // Called on the client library's threads (or the link's own), with the
    // link's new state.
    using Listener = std::function<void(bool up)>;

    NatsLink() = default;
    ~NatsLink();
    NatsLink(const NatsLink&) = delete;
    NatsLink& operator=(const NatsLink&) = delete;

    // Called on the client library's threads with an asynchronous error and
    // the server's words for it (a refused publish names its subject).
    using ErrorListener = std::function<void(natsStatus, const std::string& text)>;

    // All set before Connect.
    void SetListener(Listener listener) { listener_ = std::move(listener); }
    void SetErrorListener(ErrorListener listener) { errorListener_ = std::move(listener); }
    void SetReconnect(Reconnect how) { how_ = how; }

    // False with a message when no server could be reached, the login was
    // refused, or a credentials or certificate file could not be used
    // (then ConfigFailed: a mistake no retry mends).
    bool Connect(const BusOptions& options, std::string& error);
    bool ConfigFailed() const { return configFailed_; }
    // Returns once the client library can no longer call back into this object.
    void Close();

    // The connection (null while down), under the link's lock: whatever f
    // makes of it (a JetStream context holds its own reference) stays
    // valid after a fresh connection replaces it.
    void WithConnection(const std::function<void(natsConnection*)>& f);
    // Changes whenever the link goes down or comes up, after the change: a
    // user that reads it before WithConnection and finds it changed later
    // knows that what it made may be of a connection that is gone.
    std::uint64_t Generation() const { return generation_.load(std::memory_order_acquire); }
    // The connection as it is now; with ByClient it never changes.
    natsConnection* Connection();

    bool Up() const { return up_.load(); }
    std::uint64_t Reconnections() const { return reconnections_.load(); }
    std::string ConnectedUrl();

    // "what failed: the client library's words for it"
    static std::string ErrorText(const char* what, natsStatus s);

private:
    static void OnDisconnected(natsConnection*, void* closure);
    static void OnReconnected(natsConnection*, void* closure);
    static void OnClosed(natsConnection*, void* closure);
    static void OnError(natsConnection*, natsSubscription*, natsStatus s, void* closure);
    bool Configure(const BusOptions& o, std::string& error);
    void SetUp(bool up);
    // FreshConnection: waits for a failure, then connects again until it
    // succeeds or Close.
    void Redial();
    bool DialOnce();

    Reconnect how_ = Reconnect::ByClient;
    Listener listener_;
    ErrorListener errorListener_;
    natsOptions* opts_ = nullptr;
    std::vector<std::string> servers_; // the given ones, then those learned
    bool configFailed_ = false;

    std::mutex mu_;
    std::condition_variable cv_;
    natsConnection* conn_ = nullptr;
    bool failed_ = false; // FreshConnection: conn_ closed on its own
    bool closing_ = false;
    std::uint64_t made_ = 0;   // connections made
    std::uint64_t closed_ = 0; // closed callbacks seen
    std::thread redial_;

    std::atomic<bool> up_{false};
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint64_t> reconnections_{0};
    Throttle errorPrints_; // per text: a refused publish prints once a minute per subject
};

} // namespace mdrelay
