// The metrics listener from the outside: raw sockets on loopback sending
// good and bad requests, and the listener serving a good scrape after each.
#include "metrics/Listener.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using asio::ip::tcp;
using mdlink::metrics::ListenAddress;
using mdlink::metrics::Listener;
using mdlink::metrics::ParseListenAddress;

namespace {

// Every wait is bounded by this; sanitizer builds on busy machines are slow.
constexpr std::chrono::seconds Patience{60};

struct Reply {
    std::string bytes;
    bool closed = false; // the listener closed (or reset) the connection
};

// Sends the bytes, then reads until the listener closes the connection.
Reply Exchange(tcp::socket& socket, const std::string& request)
{
    asio::io_context& io = static_cast<asio::io_context&>(socket.get_executor().context());
    Reply reply;
    std::array<char, 4096> chunk;
    std::function<void()> read = [&] {
        socket.async_read_some(asio::buffer(chunk), [&](const asio::error_code& ec, std::size_t n) {
            reply.bytes.append(chunk.data(), n);
            if (ec)
                reply.closed = true;
            else
                read();
        });
    };
    if (request.empty()) {
        read();
    } else {
        asio::async_write(socket, asio::buffer(request),
                          [&](const asio::error_code&, std::size_t) { read(); });
    }
    io.restart();
    io.run_for(Patience);
    return reply;
}

class ListenerTest : public ::testing::Test {
protected:
    void Serve(Listener::Limits limits = Listener::Limits())
    {
        std::string error;
        listener_ = Listener::Start(
            ListenAddress{"127.0.0.1", 0},
            [this] {
                ++scrapes_;
                return std::string("mdlink_up 1\n");
            },
            error, limits);
        ASSERT_TRUE(listener_) << error;
        ASSERT_NE(listener_->Port(), 0);
    }

    std::unique_ptr<tcp::socket> Connect()
    {
        auto socket = std::make_unique<tcp::socket>(io_);
        socket->connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), listener_->Port()));
        return socket;
    }

    Reply Ask(const std::string& request)
    {
        std::unique_ptr<tcp::socket> socket = Connect();
        return Exchange(*socket, request);
    }

    void ExpectGoodScrape()
    {
        const Reply r = Ask("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_TRUE(r.closed);
        EXPECT_EQ(r.bytes,
                  "HTTP/1.1 200 OK\r\n"
                  "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                  "Content-Length: 12\r\n"
                  "Connection: close\r\n\r\n"
                  "mdlink_up 1\n");
    }

    asio::io_context io_;
    std::unique_ptr<Listener> listener_;
    std::atomic<int> scrapes_{0};
};

struct BadRequest {
    const char* what;
    std::string request;
    const char* status; // the start of the answer
};

TEST_F(ListenerTest, AnswersEachRequestAndServesAGoodScrapeAfterIt)
{
    const BadRequest cases[] = {
        {"another method", "POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 "},
        {"HEAD is not GET", "HEAD /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 405 "},
        {"another path", "GET /other HTTP/1.1\r\n\r\n", "HTTP/1.1 404 "},
        {"a longer path", "GET /metrics/x HTTP/1.1\r\n\r\n", "HTTP/1.1 404 "},
        {"not a request line", "hello\r\n\r\n", "HTTP/1.1 400 "},
        {"another protocol", "GET /metrics SPDY/3\r\n\r\n", "HTTP/1.1 400 "},
        {"a head over 8 KiB", "GET /metrics HTTP/1.1\r\nX-Pad: " + std::string(8193 - 34, 'a') + "\r\n\r\n",
         "HTTP/1.1 431 "},
        {"a head of exactly 8 KiB",
         "GET /metrics HTTP/1.1\r\nX-Pad: " + std::string(8192 - 34, 'b') + "\r\n\r\n", "HTTP/1.1 200 "},
        {"a query string", "GET /metrics?x=1 HTTP/1.1\r\n\r\n", "HTTP/1.1 200 "},
        {"bare line feeds", "GET /metrics HTTP/1.0\n\n", "HTTP/1.1 200 "},
    };
    Serve();
    for (const BadRequest& c : cases) {
        const Reply r = Ask(c.request);
        EXPECT_TRUE(r.closed) << c.what;
        EXPECT_EQ(r.bytes.compare(0, std::strlen(c.status), c.status), 0) << c.what << ": " << r.bytes;
        ExpectGoodScrape();
    }
}

TEST_F(ListenerTest, AClientThatNeverFinishesItsHeadIsClosed)
{
    Listener::Limits limits;
    limits.headTimeout = std::chrono::milliseconds(200);
    Serve(limits);
    std::unique_ptr<tcp::socket> slow = Connect();
    const Reply r = Exchange(*slow, "GET /metrics HTTP/1.1\r\nHost:");
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.bytes, "");
    std::unique_ptr<tcp::socket> silent = Connect();
    EXPECT_TRUE(Exchange(*silent, "").closed);
    EXPECT_EQ(scrapes_.load(), 0);
    ExpectGoodScrape();
}

TEST_F(ListenerTest, ConnectionsOverTheBoundAreClosedAtOnce)
{
    Serve();
    constexpr int Many = 40;
    std::vector<std::unique_ptr<tcp::socket>> sockets;
    for (int i = 0; i < Many; ++i)
        sockets.push_back(Connect());
    // None has sent anything: the listener keeps 16, each waiting for its
    // head, and closes the others.
    std::vector<bool> closed(Many, false);
    int closedCount = 0;
    std::vector<std::array<char, 16>> chunks(Many);
    for (int i = 0; i < Many; ++i)
        sockets[i]->async_read_some(asio::buffer(chunks[i]), [&, i](const asio::error_code& ec, std::size_t) {
            if (ec && ec != asio::error::operation_aborted) {
                closed[i] = true;
                if (++closedCount == Many - 16)
                    io_.stop();
            }
        });
    io_.run_for(Patience);
    ASSERT_EQ(closedCount, Many - 16);
    for (int i = 0; i < Many; ++i)
        sockets[i]->cancel();
    io_.restart();
    io_.run_for(Patience);
    EXPECT_EQ(closedCount, Many - 16) << "no more closed meanwhile";
    // The 16 kept are served.
    for (int i = 0; i < Many; ++i) {
        if (closed[i])
            continue;
        const Reply r = Exchange(*sockets[i], "GET /metrics HTTP/1.1\r\n\r\n");
        EXPECT_EQ(r.bytes.compare(0, 13, "HTTP/1.1 200 "), 0) << i;
    }
    EXPECT_EQ(scrapes_.load(), 16);
    // The answered connections hold their places until the listener sees
    // them closed; then a new one is served again.
    sockets.clear();
    const auto until = std::chrono::steady_clock::now() + Patience;
    while (Ask("GET /metrics HTTP/1.1\r\n\r\n").bytes.empty() && std::chrono::steady_clock::now() < until) {}
    ExpectGoodScrape();
}

TEST_F(ListenerTest, APortInUseIsAnErrorNotAListener)
{
    Serve();
    std::string error;
    std::unique_ptr<Listener> second = Listener::Start(
        ListenAddress{"127.0.0.1", listener_->Port()}, [] { return std::string(); }, error);
    EXPECT_FALSE(second);
    EXPECT_FALSE(error.empty());
    ExpectGoodScrape();
}

TEST(ListenAddressTest, ReadsHostAndPort)
{
    const struct {
        const char* text;
        bool ok;
        const char* host;
        unsigned short port;
    } cases[] = {
        {":9464", true, "127.0.0.1", 9464},
        {"10.1.2.3:65535", true, "10.1.2.3", 65535},
        {"[::1]:80", true, "::1", 80},
        {"localhost:5", true, "127.0.0.1", 5},
        {":0", true, "127.0.0.1", 0},
        {"", false, "", 0},
        {"9464", false, "", 0},
        {"127.0.0.1:", false, "", 0},
        {":65536", false, "", 0},
        {":94x", false, "", 0},
        {"::1:80", false, "", 0},
        {"[::1]80", false, "", 0},
        {"metrics.example:80", false, "", 0},
        {"300.1.1.1:80", false, "", 0},
    };
    for (const auto& c : cases) {
        ListenAddress a;
        ASSERT_EQ(ParseListenAddress(c.text, a), c.ok) << c.text;
        if (!c.ok)
            continue;
        EXPECT_EQ(a.host, c.host) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
    }
    ListenAddress a;
    EXPECT_FALSE(ParseListenAddress(nullptr, a));
}

} // namespace
