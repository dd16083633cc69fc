#include "Sender.h"

#include "Receivers.h"
#include "Stream.h"

#include <asio/write.hpp>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>

namespace bench {

using asio::ip::tcp;

// Here rather than with the receivers' processes: bench_relay takes the
// sender without them.
int PollCpu()
{
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    return cpus > 1 ? static_cast<int>(cpus - 1) : 0;
}

namespace {

// Keeps the calling thread off the CPU a polling receiver spins on, where
// there is another: two busy threads on one CPU would take turns.
void AvoidPollCpu()
{
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (cpus < 2 || cpus > CPU_SETSIZE)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (long cpu = 0; cpu < cpus; ++cpu)
        if (cpu != PollCpu())
            CPU_SET(static_cast<unsigned>(cpu), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

} // namespace

Sender::Sender() : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0))
{
    port_ = acceptor_.local_endpoint().port();
}

Sender::~Sender()
{
    Wait();
}

tcp::socket Sender::Accept()
{
    tcp::socket socket(io_);
    acceptor_.accept(socket);
    socket.set_option(tcp::no_delay(true));
    return socket;
}

void Sender::Blast(const std::string& block, long repeats)
{
    thread_ = std::thread([this, &block, repeats] {
        tcp::socket socket = Accept();
        asio::error_code ec;
        for (long i = 0; i < repeats && !ec; ++i)
            asio::write(socket, asio::buffer(block), ec);
        socket.shutdown(tcp::socket::shutdown_send, ec);
        // Hold the link until the receiver has read everything and left.
        char sink[64];
        while (!ec)
            socket.read_some(asio::buffer(sink), ec);
    });
}

void Sender::Pace(const std::string& frames, std::size_t frameSize, long count, long intervalNs)
{
    thread_ = std::thread([this, &frames, frameSize, count, intervalNs] {
        AvoidPollCpu();
        tcp::socket socket = Accept();
        std::string frame;
        asio::error_code ec;
        const std::size_t n = frames.size() / frameSize;
        std::int64_t next = NowNs();
        for (long i = 0; i < count && !ec; ++i) {
            frame.assign(frames, (static_cast<std::size_t>(i) % n) * frameSize, frameSize);
            next += intervalNs;
            while (NowNs() < next) {}
            const double stamp = static_cast<double>(NowNs());
            std::memcpy(&frame[StampOffset], &stamp, sizeof stamp);
            asio::write(socket, asio::buffer(frame), ec);
        }
        socket.shutdown(tcp::socket::shutdown_send, ec);
        char sink[64];
        while (!ec)
            socket.read_some(asio::buffer(sink), ec);
    });
}

void Sender::Hold(int connections)
{
    thread_ = std::thread([this, connections] {
        for (int i = 0; i < connections; ++i)
            held_.push_back(Accept());
    });
}

void Sender::Wait()
{
    if (thread_.joinable())
        thread_.join();
}

} // namespace bench
