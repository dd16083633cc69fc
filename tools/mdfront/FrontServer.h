// A market-data front on a TCP port: accepts any number of clients, each
// with its own FrontSession, on its own io_context thread.
//
//   mdfront::FrontConfig cfg;              // port 0: ephemeral
//   cfg.form = mdfront::DepthForm::Text;
//   mdfront::FrontServer front(cfg);
//   std::uint16_t port = front.Start();
//   ... connect a client to 127.0.0.1:port ...
//   front.WaitUntil(20s, [&] { return front.ConnectionCount() == 1 &&
//                                     front.Stats(0).logged_in; });
//   auto rec = front.Connection(0);        // frames both ways, a copy
//   front.Stop();
//
// Every accessor is thread-safe and returns a copy. Connections are
// numbered 0, 1, ... in order of accept, across restarts.
#pragma once

#include "FrontConfig.h"
#include "FrontRecorder.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mdfront {

class FrontSession;
struct SessionContext;

class FrontServer {
public:
    explicit FrontServer(FrontConfig config);
    ~FrontServer();
    FrontServer(const FrontServer&) = delete;
    FrontServer& operator=(const FrontServer&) = delete;

    // Binds and starts serving; returns the bound port. Throws
    // std::runtime_error (or asio's system_error) when the port cannot be
    // bound or the replay file cannot be read. Start after Stop serves
    // again, on the configured port (set it to the old one to come back
    // where clients look for it).
    std::uint16_t Start();
    // Closes every connection and the listening socket and joins the thread.
    void Stop();
    bool Running() const;
    std::uint16_t Port() const;
    const FrontConfig& Config() const { return config_; }
    // Changes the port the next Start binds.
    void SetPort(std::uint16_t port) { config_.port = port; }

    std::size_t ConnectionCount() const;
    ConnectionStats Stats(std::size_t conn) const;
    ConnectionRecord Connection(std::size_t conn) const;

    bool WaitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& pred) const;
    bool WaitForConnections(std::size_t count, std::chrono::milliseconds timeout) const;

    // Acting on one live connection, from any thread; no-ops once it has closed.
    void CloseConnection(std::size_t conn);  // sends what is queued, then closes
    void Silence(std::size_t conn);          // as the silent faults do
    void SendRaw(std::size_t conn, Bytes bytes);

private:
    struct Runtime;

    std::shared_ptr<FrontSession> SessionAt(std::size_t conn) const;
    void Accept();
    std::shared_ptr<SessionContext> MakeContext() const;

    FrontConfig config_;
    FrontRecorder recorder_;
    mutable std::mutex mu_;
    std::vector<std::weak_ptr<FrontSession>> sessions_;
    std::unique_ptr<Runtime> rt_;
    std::uint16_t port_ = 0;
};

} // namespace mdfront
