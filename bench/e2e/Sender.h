// The benchmark's front: a loopback listener that, once a receiver has
// connected, either blasts frames as fast as the socket takes them or sends
// one frame at a time on a fixed pace, stamping each with its send time.
#pragma once

#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class Sender {
public:
    Sender();
    ~Sender();
    int Port() const { return port_; }

    // Sends block (a whole number of frames) repeats times, in one thread.
    void Blast(const std::string& block, long repeats);
    // Sends each frame of frames (all of frameSize bytes) interval_ns apart,
    // stamped, cycling over them until count frames went out; busy between
    // frames, on any CPU but the one polling receivers spin on.
    void Pace(const std::string& frames, std::size_t frameSize, long count, long intervalNs);
    // Accepts connections links and keeps them open, idle, until destroyed.
    void Hold(int connections);
    void Wait();

private:
    asio::ip::tcp::socket Accept();

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    int port_ = 0;
    std::thread thread_;
    std::vector<asio::ip::tcp::socket> held_;
};

} // namespace bench
