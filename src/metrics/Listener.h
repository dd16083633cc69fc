// The metrics listener: the one part of libmdlink that owns a socket and a
// thread of its own (everything else runs on the base library's loop), off
// unless MDLINK_METRICS asks for it. Its thread runs its own Asio
// io_context and serves one page, GET /metrics, with bounds on what a peer
// may cost it: a request head of 8 KiB at most, 5 s to send it, 16
// connections at once. Nothing a peer sends reaches the clients or the base
// library's loop thread: the page is built from the clients' figure cells.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace mdlink {
namespace metrics {

// "[HOST]:PORT": a numeric IPv4 or IPv6 address ("[::1]:9464"), or
// "localhost"; no host is 127.0.0.1. Port 0 takes any free one.
struct ListenAddress {
    std::string host;
    unsigned short port = 0;
};
bool ParseListenAddress(const char* text, ListenAddress& out);

class Listener {
public:
    struct Limits {
        std::size_t maxHead = 8192;
        std::chrono::milliseconds headTimeout{5000};
        int maxConnections = 16;
    };
    using Page = std::function<std::string()>;
    using Tick = std::function<void()>;

    // Bound and serving, or null with the reason in error. tick, when
    // given, runs on the listener's thread every tickEvery.
    static std::unique_ptr<Listener>
    Start(const ListenAddress& address, Page page, std::string& error, const Limits& limits, Tick tick = {},
          std::chrono::milliseconds tickEvery = std::chrono::milliseconds(250));
    static std::unique_ptr<Listener> Start(const ListenAddress& address, Page page, std::string& error)
    {
        return Start(address, std::move(page), error, Limits());
    }
    // Stops serving and joins the thread.
    ~Listener();

    // The address bound, the port as the system chose it.
    std::string Host() const;
    unsigned short Port() const;

    struct State;

private:
    explicit Listener(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace metrics
} // namespace mdlink
