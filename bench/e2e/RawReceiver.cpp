// The receivers without the library: the raw one, what the machine can do
// (a blocking socket read in 64 KiB chunks, the frames walked in place), the
// naive one, what a simple reading of the receive steps gives (two blocking
// reads per frame, header then body), and the raw one waiting as an event
// loop does (epoll) or not waiting at all (polling on a pinned CPU).
#include "Receivers.h"
#include "ReferenceDecoder.h"
#include "Stream.h"
#include "wire/FrameHeader.h"

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>

#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

namespace bench {

namespace {

using asio::ip::tcp;
using OnFrame = std::function<void(const unsigned char* frame, std::uint32_t bodyLength)>;

tcp::socket Connect(asio::io_context& io, int port)
{
    tcp::socket socket(io);
    socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port)));
    return socket;
}

// Walks the whole frames at the front of buffer[0, filled); moves the rest to
// the front. Returns the frames seen.
long WalkFrames(std::vector<unsigned char>& buffer, std::size_t& filled, const OnFrame& onFrame)
{
    long seen = 0;
    std::size_t at = 0;
    while (filled - at >= mdlink::FrameHeaderSize) {
        const mdlink::FrameHeader h = mdlink::DecodeHeader(buffer.data() + at);
        const std::size_t size = mdlink::FrameHeaderSize + h.BodyLength;
        if (filled - at < size)
            break;
        if (h.MsgType == mdlink::MsgDepthMarketData) {
            onFrame(buffer.data() + at, h.BodyLength);
            ++seen;
        }
        at += size;
    }
    std::memmove(buffer.data(), buffer.data() + at, filled - at);
    filled -= at;
    return seen;
}

// Reads until frames depth frames went by; onFrame sees each one.
void ReceiveRaw(int port, long frames, const OnFrame& onFrame)
{
    asio::io_context io;
    tcp::socket socket = Connect(io, port);
    std::vector<unsigned char> buffer(1 << 20);
    std::size_t filled = 0;
    long seen = 0;
    while (seen < frames) {
        if (buffer.size() - filled < 65536)
            throw std::runtime_error("frame larger than the raw receiver's buffer");
        filled += socket.read_some(asio::buffer(buffer.data() + filled, 65536));
        seen += WalkFrames(buffer, filled, onFrame);
    }
}

// The same with one blocking read for each header and one for each body.
void ReceiveNaive(int port, long frames, const OnFrame& onFrame)
{
    asio::io_context io;
    tcp::socket socket = Connect(io, port);
    std::vector<unsigned char> frame(mdlink::FrameHeaderSize);
    long seen = 0;
    while (seen < frames) {
        asio::read(socket, asio::buffer(frame.data(), mdlink::FrameHeaderSize));
        const mdlink::FrameHeader h = mdlink::DecodeHeader(frame.data());
        frame.resize(mdlink::FrameHeaderSize + h.BodyLength);
        asio::read(socket, asio::buffer(frame.data() + mdlink::FrameHeaderSize, h.BodyLength));
        if (h.MsgType == mdlink::MsgDepthMarketData) {
            onFrame(frame.data(), h.BodyLength);
            ++seen;
        }
    }
}

// The raw receiver with an event loop's waiting: edge-triggered epoll, reads
// until the socket is empty (the last one finds nothing), as Asio does.
void ReceiveEpoll(int port, long frames, const OnFrame& onFrame)
{
    asio::io_context io;
    tcp::socket socket = Connect(io, port);
    socket.non_blocking(true);
    const int fd = socket.native_handle();
    const int ep = epoll_create1(0);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLET;
    if (ep < 0 || epoll_ctl(ep, EPOLL_CTL_ADD, fd, &event) != 0)
        throw std::runtime_error("epoll set-up failed");
    std::vector<unsigned char> buffer(1 << 20);
    std::size_t filled = 0;
    long seen = 0;
    while (seen < frames) {
        epoll_event ready;
        if (epoll_wait(ep, &ready, 1, -1) < 0 && errno != EINTR)
            break;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer.data() + filled, 65536, 0);
            if (n <= 0)
                break;
            filled += static_cast<std::size_t>(n);
            seen += WalkFrames(buffer, filled, onFrame);
        }
    }
    close(ep);
    if (seen < frames)
        throw std::runtime_error("the epoll receiver lost its socket");
}

// Keeps the calling thread on one CPU while it lives, then gives it back
// the CPUs it had.
class PinnedThread {
public:
    explicit PinnedThread(int cpu)
    {
        pinned_ = pthread_getaffinity_np(pthread_self(), sizeof previous_, &previous_) == 0;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(static_cast<unsigned>(cpu), &one);
        pinned_ = pinned_ && pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
    }
    ~PinnedThread()
    {
        if (pinned_)
            pthread_setaffinity_np(pthread_self(), sizeof previous_, &previous_);
    }
    PinnedThread(const PinnedThread&) = delete;
    PinnedThread& operator=(const PinnedThread&) = delete;

private:
    cpu_set_t previous_;
    bool pinned_;
};

// The raw receiver never asleep: non-blocking reads in a loop on a pinned
// CPU, each frame seen at the first read after it arrived.
void ReceivePoll(int port, long frames, const OnFrame& onFrame)
{
    asio::io_context io;
    tcp::socket socket = Connect(io, port);
    socket.non_blocking(true);
    const int fd = socket.native_handle();
    const PinnedThread pinned(PollCpu());
    std::vector<unsigned char> buffer(1 << 20);
    std::size_t filled = 0;
    long seen = 0;
    while (seen < frames) {
        const ssize_t n = ::recv(fd, buffer.data() + filled, 65536, 0);
        if (n > 0) {
            filled += static_cast<std::size_t>(n);
            seen += WalkFrames(buffer, filled, onFrame);
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            break;
        }
    }
    if (seen < frames)
        throw std::runtime_error("the polling receiver lost its socket");
}

using ReceiveFn = void (*)(int, long, const OnFrame&);

ReceiveFn Pick(Receiver receiver)
{
    switch (receiver) {
    case Receiver::RawEpoll: return ReceiveEpoll;
    case Receiver::RawPoll: return ReceivePoll;
    case Receiver::Naive: return ReceiveNaive;
    default: return ReceiveRaw;
    }
}

volatile double g_sink;

} // namespace

Throughput PlainThroughput(Receiver receiver, int port, long frames, bool decode)
{
    Throughput t;
    std::int64_t first = 0, last = 0, firstCpu = 0, lastCpu = 0;
    // The clocks are read only at the first and the last frame.
    Pick(receiver)(port, frames, [&](const unsigned char* frame, std::uint32_t length) {
        if (t.frames == 0) {
            first = NowNs();
            firstCpu = ThreadCpuNs();
        }
        if (decode) {
            // Into a zeroed record on the stack, as an application would.
            CThostFtdcDepthMarketDataField record;
            std::memset(&record, 0, sizeof record);
            ReferenceDecoder(record).Decode(reinterpret_cast<const char*>(frame) + mdlink::FrameHeaderSize,
                                            length);
            g_sink = record.LastPrice;
        }
        if (++t.frames == frames) {
            last = NowNs();
            lastCpu = ThreadCpuNs();
        }
    });
    t.seconds = static_cast<double>(last - first) / 1e9;
    t.cpuSeconds = static_cast<double>(lastCpu - firstCpu) / 1e9;
    return t;
}

std::vector<std::int64_t> PlainLatency(Receiver receiver, int port, long frames, long warmup)
{
    std::vector<std::int64_t> samples;
    samples.reserve(static_cast<std::size_t>(frames));
    long seen = 0;
    Pick(receiver)(port, frames, [&](const unsigned char* frame, std::uint32_t) {
        const std::int64_t now = NowNs();
        double stamp;
        std::memcpy(&stamp, frame + StampOffset, sizeof stamp);
        if (seen++ >= warmup)
            samples.push_back(now - static_cast<std::int64_t>(stamp));
    });
    return samples;
}

} // namespace bench
