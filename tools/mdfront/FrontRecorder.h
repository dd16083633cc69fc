// Thread-safe store of every connection's record. The server's thread
// writes; any thread reads copies and waits for changes.
#pragma once

#include "ChangeSignal.h"
#include "FrontRecord.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace mdfront {

class FrontRecorder {
public:
    explicit FrontRecorder(std::size_t recordLimit) : limit_(recordLimit) {}

    // A new connection; returns its index (0, 1, ... in order of accept).
    std::size_t Open(const std::string& peer);
    void Received(std::size_t conn, ReceivedFrame frame);
    void Sent(std::size_t conn, SentFrame frame);
    // Any other change of a connection's counters or state.
    void Update(std::size_t conn, const std::function<void(ConnectionStats&)>& change);

    std::size_t Count() const;
    ConnectionStats Stats(std::size_t conn) const;
    ConnectionRecord Record(std::size_t conn) const;

    // Re-evaluates pred after every change until it holds or the timeout
    // passes; pred may call the accessors above. Returns pred's last value.
    bool WaitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& pred) const;

private:
    const std::size_t limit_;
    mutable std::mutex mu_;
    mutable mdtools::ChangeSignal changes_;
    std::vector<ConnectionRecord> conns_;
};

} // namespace mdfront
