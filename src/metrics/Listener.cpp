#include "metrics/Listener.h"

#include "ForcedUnwind.h"

#include <asio.hpp>

#include <array>
#include <cstring>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

namespace mdlink {
namespace metrics {

namespace {

using asio::ip::tcp;

constexpr char PageType[] = "text/plain; version=0.0.4; charset=utf-8";

std::string Response(const char* status, const char* type, const std::string& body, const char* extra = "")
{
    std::string r = "HTTP/1.1 ";
    r += status;
    r += "\r\nContent-Type: ";
    r += type;
    r += "\r\nContent-Length: ";
    r += std::to_string(body.size());
    r += "\r\n";
    r += extra;
    r += "Connection: close\r\n\r\n";
    r += body;
    return r;
}

std::string Plain(const char* status, const char* extra = "")
{
    return Response(status, "text/plain; charset=utf-8", std::string(status) + "\n", extra);
}

// Where the request head ends (past its blank line), or 0 while it has not.
std::size_t HeadEnd(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i + 1 < size; ++i) {
        if (data[i] != '\n')
            continue;
        if (data[i + 1] == '\n')
            return i + 2;
        if (i + 2 < size && data[i + 1] == '\r' && data[i + 2] == '\n')
            return i + 3;
    }
    return 0;
}

} // namespace

struct Listener::State {
    // Before the io_context: connections still queued in it count themselves
    // out as it goes.
    Page page;
    Limits limits;
    int open = 0; // connections now; the listener's thread only
    std::string host;
    unsigned short port = 0;

    Tick tick;
    std::chrono::milliseconds tickEvery{250};

    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::steady_timer retry{io};
    asio::steady_timer ticker{io};
    std::thread thread;

    void Accept();
    void ArmTick();
    std::string Answer(const char* head, std::size_t size);
};

namespace {

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Listener::State& state, tcp::socket socket)
        : state_(state), socket_(std::move(socket)), timer_(state.io), head_(state.limits.maxHead)
    {
        ++state_.open;
    }
    ~Connection() { --state_.open; }

    void Start()
    {
        Arm();
        Read();
    }

private:
    // One deadline for the head, another for the answer and the close: a
    // peer that stops reading cannot hold the connection either.
    void Arm()
    {
        timer_.expires_after(state_.limits.headTimeout);
        auto self = shared_from_this();
        timer_.async_wait([self](const asio::error_code& ec) {
            if (ec)
                return;
            asio::error_code ignored;
            self->socket_.close(ignored);
        });
    }

    void Read()
    {
        auto self = shared_from_this();
        socket_.async_read_some(asio::buffer(head_.data() + used_, head_.size() - used_),
                                [self](const asio::error_code& ec, std::size_t n) { self->Took(ec, n); });
    }

    void Took(const asio::error_code& ec, std::size_t n)
    {
        if (ec) {
            Close();
            return;
        }
        const std::size_t before = used_;
        used_ += n;
        // The blank line may straddle two reads.
        const std::size_t from = before > 2 ? before - 2 : 0;
        const std::size_t end = HeadEnd(head_.data() + from, used_ - from);
        if (end > 0) {
            Send(state_.Answer(head_.data(), from + end));
            return;
        }
        if (used_ == head_.size()) {
            Send(Plain("431 Request Header Fields Too Large"));
            return;
        }
        Read();
    }

    void Send(std::string response)
    {
        response_ = std::move(response);
        Arm();
        auto self = shared_from_this();
        asio::async_write(socket_, asio::buffer(response_), [self](const asio::error_code& ec, std::size_t) {
            if (ec) {
                self->Close();
                return;
            }
            // Our side ends here; what the peer still sends is read and
            // dropped until it closes too, so that the answer is not lost
            // to a reset.
            asio::error_code ignored;
            self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
            self->Drain();
        });
    }

    void Drain()
    {
        auto self = shared_from_this();
        socket_.async_read_some(asio::buffer(head_), [self](const asio::error_code& ec, std::size_t) {
            if (ec)
                self->Close();
            else
                self->Drain();
        });
    }

    void Close()
    {
        asio::error_code ignored;
        timer_.cancel();
        socket_.close(ignored);
    }

    Listener::State& state_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::vector<char> head_;
    std::size_t used_ = 0;
    std::string response_;
};

} // namespace

std::string Listener::State::Answer(const char* head, std::size_t size)
{
    const char* lineEnd = static_cast<const char*>(std::memchr(head, '\n', size));
    std::string line(head, lineEnd ? static_cast<std::size_t>(lineEnd - head) : size);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string::npos ? std::string::npos : line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || line.compare(sp2 + 1, 7, "HTTP/1.") != 0)
        return Plain("400 Bad Request");
    if (line.compare(0, sp1, "GET") != 0)
        return Plain("405 Method Not Allowed", "Allow: GET\r\n");
    std::string path = line.substr(sp1 + 1, sp2 - sp1 - 1);
    path = path.substr(0, path.find('?'));
    if (path != "/metrics")
        return Plain("404 Not Found");
    return Response("200 OK", PageType, page());
}

void Listener::State::Accept()
{
    acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors, say: try again a little later rather than spin.
            retry.expires_after(std::chrono::milliseconds(100));
            retry.async_wait([this](const asio::error_code& e) {
                if (!e)
                    Accept();
            });
            return;
        }
        // Over the bound: accepted and closed at once (the socket's destructor).
        if (open < limits.maxConnections)
            std::make_shared<Connection>(*this, std::move(socket))->Start();
        Accept();
    });
}

bool ParseListenAddress(const char* text, ListenAddress& out)
{
    if (!text || !*text)
        return false;
    const std::string s(text);
    std::string host;
    std::string port;
    if (s[0] == '[') {
        const std::size_t close = s.find(']');
        if (close == std::string::npos || close + 1 >= s.size() || s[close + 1] != ':')
            return false;
        host = s.substr(1, close - 1);
        port = s.substr(close + 2);
        if (host.empty())
            return false;
    } else {
        const std::size_t colon = s.rfind(':');
        if (colon == std::string::npos)
            return false;
        host = s.substr(0, colon);
        port = s.substr(colon + 1);
        if (host.find(':') != std::string::npos)
            return false; // an IPv6 address goes in brackets
    }
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long number = std::stoul(port);
    if (number > 65535)
        return false;
    if (host.empty() || host == "localhost")
        host = "127.0.0.1";
    asio::error_code ec;
    asio::ip::make_address(host, ec);
    if (ec)
        return false;
    out.host = host;
    out.port = static_cast<unsigned short>(number);
    return true;
}

void Listener::State::ArmTick()
{
    ticker.expires_after(tickEvery);
    ticker.async_wait([this](const asio::error_code& ec) {
        if (ec)
            return;
        tick();
        ArmTick();
    });
}

std::unique_ptr<Listener> Listener::Start(const ListenAddress& address, Page page, std::string& error,
                                          const Limits& limits, Tick tick,
                                          std::chrono::milliseconds tickEvery)
{
    std::unique_ptr<State> state(new State());
    state->page = std::move(page);
    state->limits = limits;
    state->tick = std::move(tick);
    state->tickEvery = tickEvery;
    asio::error_code ec;
    const asio::ip::address ip = asio::ip::make_address(address.host, ec);
    const tcp::endpoint endpoint(ip, address.port);
    if (!ec)
        state->acceptor.open(endpoint.protocol(), ec);
#if !defined(_WIN32)
    // A restarted process gets its port back at once. Not on Windows, where
    // the option would let two processes share the port.
    if (!ec)
        state->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
    if (!ec)
        state->acceptor.bind(endpoint, ec);
    if (!ec)
        state->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    tcp::endpoint bound;
    if (!ec)
        bound = state->acceptor.local_endpoint(ec);
    if (ec) {
        error = ec.message();
        return nullptr;
    }
    state->host = ip.is_v6() ? "[" + ip.to_string() + "]" : ip.to_string();
    state->port = bound.port();
    state->Accept();
    if (state->tick)
        state->ArmTick();
    State* s = state.get();
#if !defined(_WIN32)
    // Signals stay with the application's threads, as with the base
    // library's loop thread.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
#endif
    state->thread = std::thread([s] {
        // A failure in one answer (no memory for the page) costs that
        // connection only.
        for (;;) {
            try {
                s->io.run();
                return;
            }
            KELVO_LET_FORCED_UNWIND_THROUGH
            catch (...)
            {}
        }
    });
#if !defined(_WIN32)
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
#if defined(__linux__)
    // Named before anyone is told it serves.
    pthread_setname_np(state->thread.native_handle(), "mdlink-metrics");
#endif
    return std::unique_ptr<Listener>(new Listener(std::move(state)));
}

Listener::Listener(std::unique_ptr<State> state) : state_(std::move(state))
{}

Listener::~Listener()
{
    State* s = state_.get();
    asio::post(s->io, [s] {
        asio::error_code ignored;
        s->acceptor.close(ignored);
        s->retry.cancel();
        s->ticker.cancel();
        s->io.stop();
    });
    s->thread.join();
}

std::string Listener::Host() const
{
    return state_->host;
}

unsigned short Listener::Port() const
{
    return state_->port;
}

} // namespace metrics
} // namespace mdlink
