// The raw receiver: what the machine can do without any library.
#include "Receivers.h"
#include "Stream.h"
#include "wire/FrameHeader.h"

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>

#include <cstring>
#include <functional>
#include <vector>

namespace bench {

namespace {

using asio::ip::tcp;

// Reads until frames depth frames went by; onFrame sees each one.
void Receive(int port, long frames, const std::function<void(const unsigned char*)>& onFrame)
{
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port)));
    std::vector<unsigned char> buffer(1 << 20);
    std::size_t filled = 0;
    long seen = 0;
    while (seen < frames) {
        if (buffer.size() - filled < 65536)
            throw std::runtime_error("frame larger than the raw receiver's buffer");
        filled += socket.read_some(asio::buffer(buffer.data() + filled, 65536));
        std::size_t at = 0;
        while (filled - at >= mdlink::FrameHeaderSize) {
            const mdlink::FrameHeader h = mdlink::DecodeHeader(buffer.data() + at);
            const std::size_t size = mdlink::FrameHeaderSize + h.BodyLength;
            if (filled - at < size)
                break;
            if (h.MsgType == mdlink::MsgDepthMarketData) {
                onFrame(buffer.data() + at);
                ++seen;
            }
            at += size;
        }
        std::memmove(buffer.data(), buffer.data() + at, filled - at);
        filled -= at;
    }
}

} // namespace

Throughput RawThroughput(int port, long frames)
{
    Throughput t;
    std::int64_t first = 0, last = 0;
    // The clock is read only at the first and the last frame.
    Receive(port, frames, [&](const unsigned char*) {
        if (t.frames == 0)
            first = NowNs();
        if (++t.frames == frames)
            last = NowNs();
    });
    t.seconds = static_cast<double>(last - first) / 1e9;
    return t;
}

std::vector<std::int64_t> RawLatency(int port, long frames, long warmup)
{
    std::vector<std::int64_t> samples;
    samples.reserve(static_cast<std::size_t>(frames));
    long seen = 0;
    Receive(port, frames, [&](const unsigned char* frame) {
        const std::int64_t now = NowNs();
        double stamp;
        std::memcpy(&stamp, frame + StampOffset, sizeof stamp);
        if (seen++ >= warmup)
            samples.push_back(now - static_cast<std::int64_t>(stamp));
    });
    return samples;
}

} // namespace bench
