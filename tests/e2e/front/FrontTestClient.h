// A plain blocking TCP client for testing the front: sends raw frames and
// reads exact byte counts, every read bounded by a timeout.
#pragma once

#include "FrameBuilder.h"
#include "wire/FrameHeader.h"

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace fronttest {

using mdfront::Bytes;
using namespace std::chrono_literals;

// Generous: the tests also run under sanitizers on a busy machine.
constexpr std::chrono::milliseconds Patience = 20s;

struct Frame {
    mdlink::FrameHeader header;
    Bytes body;
};

class FrontTestClient {
public:
    explicit FrontTestClient(std::uint16_t port);

    void Send(const Bytes& bytes);
    void SendFrame(std::uint32_t marker, std::uint32_t type, std::int32_t requestId, const Bytes& body);
    void SendLogin(std::int32_t requestId, const std::string& user, const std::string& password,
                   const std::string& broker = "9999");
    void SendList(std::uint32_t type, std::int32_t requestId, const std::string& ids);
    void SendHeartBeat(std::int32_t requestId);

    // False on timeout or when the link ends first.
    bool ReadExactly(std::size_t n, Bytes& out, std::chrono::milliseconds timeout = Patience);
    std::optional<Frame> ReadFrame(std::chrono::milliseconds timeout = Patience);
    // Skips frames of other types (say, depth data) until one of `type`.
    std::optional<Frame> ReadFrameOfType(std::uint32_t type, std::chrono::milliseconds timeout = Patience);
    // Everything until the peer closes; false on timeout.
    bool ReadToEof(Bytes& out, std::chrono::milliseconds timeout = Patience);

private:
    bool RunFor(std::chrono::milliseconds timeout, bool& done);

    asio::io_context io_;
    asio::ip::tcp::socket socket_;
};

Bytes LoginBody(const std::string& user, const std::string& password, const std::string& broker);
Bytes TextBytes(const std::string& text);

} // namespace fronttest
