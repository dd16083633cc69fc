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
//
// A soak numbers the depth records (FrontConfig::stamp_sequence), picks
// faults per connection (FrontConfig::faults_of) or starts them on a live
// one (Silence, SendRaw, CloseConnection, Abort), stops with a drain time
// and starts again on the same port, and checks the records numbered up
// to Stats(conn).stamp_before_fault against what its client delivered.
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
    // Closes the listening socket and every connection and joins the
    // thread. With a drain time, each connection first sends what is
    // queued and ends sending, and the clients get that long to read it and
    // close their ends (see ConnectionStats::all_acknowledged).
    void Stop(std::chrono::milliseconds drain = std::chrono::milliseconds(0));
    bool Running() const;
    // Where capture files to replay stop being readable: each is replayed up to there.
    std::vector<std::string> ReplayNotes() const;
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
    void CloseConnection(std::size_t conn); // sends what is queued, then closes
    void Abort(std::size_t conn);           // closes at once, dropping what is queued
    void Silence(std::size_t conn);         // as the silent faults do
    void SendRaw(std::size_t conn, Bytes bytes);

private:
    struct Runtime;

    std::shared_ptr<FrontSession> SessionAt(std::size_t conn) const;
    void Accept();
    void ForEachSession(const std::function<void(FrontSession&)>& act);
    std::shared_ptr<SessionContext> MakeContext() const;

    FrontConfig config_;
    FrontRecorder recorder_;
    mutable std::mutex mu_;
    std::vector<std::weak_ptr<FrontSession>> sessions_;
    std::unique_ptr<Runtime> rt_;
    std::uint16_t port_ = 0;
};

} // namespace mdfront
