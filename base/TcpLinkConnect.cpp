// TcpLink: resolving, connecting with a timeout, shutting down.
#include "TcpLink.h"

#include "KelvoBase.h"
#include "Loop.h"
#include "Reasons.h"
#include "TimeScale.h"

#include <asio/connect.hpp>
#include <asio/ip/address.hpp>

namespace kelvo {

namespace {
constexpr std::uint64_t kConnectTimeoutMs = 10000;
}

TcpLink::TcpLink(std::shared_ptr<TcpCore> core, std::uint64_t gen)
    : core_(std::move(core)), gen_(gen), socket_(Loop::Get().Context()), resolver_(Loop::Get().Context()),
      connectTimer_(Loop::Get().Context())
{}

TcpLink::~TcpLink()
{
    // Frames accepted but never written go with the link.
    for (Kelvo_String* frame : queue_)
        delete frame;
    for (Kelvo_String* frame : inflight_)
        delete frame;
}

void TcpLink::Start(const std::string& host, int port)
{
    std::shared_ptr<TcpLink> self = shared_from_this();
    if (port < 0 || port > 65535) {
        // Reported from the loop, never from inside Connect.
        Loop::Get().Post([self] {
            if (self->Alive())
                self->Fail(ReasonInvalid());
        });
        return;
    }
    connectTimer_.expires_after(ScaledDelay(kConnectTimeoutMs));
    connectTimer_.async_wait([self](const asio::error_code&) {
        if (self->Alive() && !self->Connected())
            self->Fail(ReasonTimedOut());
    });

    // Numeric addresses, "[v6]" included, need no resolver round trip.
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    asio::error_code ec;
    const asio::ip::address address = asio::ip::make_address(name, ec);
    if (!ec)
        ConnectTo(asio::ip::tcp::endpoint(address, static_cast<unsigned short>(port)));
    else
        Resolve(name, port);
}

void TcpLink::Resolve(const std::string& host, int port)
{
    std::shared_ptr<TcpLink> self = shared_from_this();
    resolver_.async_resolve(
        host, std::to_string(port), asio::ip::tcp::resolver::numeric_service,
        [self](const asio::error_code& ec, const asio::ip::tcp::resolver::results_type& results) {
            if (!self->Alive())
                return;
            if (ec) {
                self->Fail(ReasonHostNotFound());
                return;
            }
            // Tries each address in turn; the last failure is reported.
            asio::async_connect(self->socket_, results,
                                [self](const asio::error_code& error, const asio::ip::tcp::endpoint&) {
                                    self->OnConnected(error);
                                });
        });
}

void TcpLink::ConnectTo(const asio::ip::tcp::endpoint& endpoint)
{
    std::shared_ptr<TcpLink> self = shared_from_this();
    socket_.async_connect(endpoint, [self](const asio::error_code& ec) { self->OnConnected(ec); });
}

void TcpLink::OnConnected(const asio::error_code& ec)
{
    if (!Alive())
        return;
    if (ec) {
        Fail(ec == asio::error::not_found ? ReasonHostNotFound() : ReasonOf(ec));
        return;
    }
    connectTimer_.cancel();
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    core_->LinkUp(*this);
}

void TcpLink::Shutdown()
{
    asio::error_code ignored;
    // Cancelled before the close: Windows aborts what is pending at close,
    // but Wine can leave a send to a full window pending for ever, and the
    // link with it, since its handler holds the link.
    socket_.cancel(ignored);
    socket_.close(ignored);
    resolver_.cancel();
    connectTimer_.cancel();
}

void TcpLink::Fail(int reason)
{
    core_->LinkLost(*this, reason);
}

} // namespace kelvo
