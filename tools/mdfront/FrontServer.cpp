#include "FrontServer.h"

#include "FrontSession.h"
#include "LocalTime.h"

#include <asio.hpp>

#include <future>
#include <stdexcept>

namespace mdfront {

struct FrontServer::Runtime {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor{io};
    std::shared_ptr<const SessionContext> context;
    std::thread thread;
};

FrontServer::FrontServer(FrontConfig config) : config_(std::move(config)), recorder_(config_.record_limit)
{}

FrontServer::~FrontServer()
{
    Stop();
}

std::shared_ptr<SessionContext> FrontServer::MakeContext() const
{
    auto ctx = std::make_shared<SessionContext>();
    ctx->config = config_;
    ctx->recorder = const_cast<FrontRecorder*>(&recorder_);
    ctx->trading_day = config_.trading_day.empty() ? mdtools::NowLocal().date : config_.trading_day;
    if (!config_.capture_files.empty()) {
        ctx->capture = std::make_shared<CaptureBook>(config_.capture_files);
        for (const InstrumentInfo& s : ctx->capture->Instruments())
            ctx->known[s.id] = s.exchange;
        return ctx;
    }
    if (!config_.replay_file.empty()) {
        ctx->replay = std::make_shared<ReplayBook>(config_.replay_file);
        for (const InstrumentInfo& s : ctx->replay->Instruments())
            ctx->known[s.id] = s.exchange;
        return ctx;
    }
    ctx->any_instrument = config_.instruments.empty();
    for (const InstrumentInfo& s : config_.instruments)
        ctx->known[s.id] = s.exchange.empty() ? config_.default_exchange : s.exchange;
    return ctx;
}

std::uint16_t FrontServer::Start()
{
    if (rt_)
        throw std::runtime_error("front already running");
    auto rt = std::make_unique<Runtime>();
    rt->context = MakeContext();
    const asio::ip::tcp::endpoint ep(asio::ip::make_address(config_.host), config_.port);
    rt->acceptor.open(ep.protocol());
#ifndef _WIN32
    // Lets a restarted front take its old port back at once; on Windows the
    // same option would let two listeners share a port.
    rt->acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
#endif
    rt->acceptor.bind(ep);
    rt->acceptor.listen();
    port_ = rt->acceptor.local_endpoint().port();
    rt_ = std::move(rt);
    Accept();
    rt_->thread = std::thread([io = &rt_->io] {
        auto guard = asio::make_work_guard(*io);
        io->run();
    });
    return port_;
}

void FrontServer::Accept()
{
    Runtime* rt = rt_.get();
    rt->acceptor.async_accept([this, rt](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (ec) {
            if (ec != asio::error::operation_aborted && rt->acceptor.is_open())
                Accept(); // a failed accept (say, too many files) is not the end
            return;
        }
        asio::error_code pe;
        const auto peer = socket.remote_endpoint(pe);
        const std::string peerText =
            pe ? "?" : peer.address().to_string() + ":" + std::to_string(peer.port());
        std::shared_ptr<FrontSession> session;
        {
            // Held across Open so that whoever sees the new connection can act on it.
            std::lock_guard<std::mutex> lk(mu_);
            const std::size_t index = recorder_.Open(peerText);
            const FrontConfig& cfg = rt->context->config;
            session = std::make_shared<FrontSession>(std::move(socket), rt->context, index,
                                                     cfg.faults_of ? cfg.faults_of(index) : cfg.faults);
            sessions_.resize(index + 1);
            sessions_[index] = session;
        }
        session->Start();
        Accept();
    });
}

void FrontServer::Stop(std::chrono::milliseconds drain)
{
    if (!rt_)
        return;
    if (drain.count() > 0) {
        ForEachSession([](FrontSession& s) { s.DrainForStop(); });
        recorder_.WaitUntil(drain, [this] {
            for (std::size_t i = 0, n = recorder_.Count(); i < n; ++i)
                if (!recorder_.Stats(i).socket_closed)
                    return false;
            return true;
        });
    }
    ForEachSession([](FrontSession& s) { s.CloseNowForStop(); });
    rt_->io.stop();
    rt_->thread.join();
    rt_.reset(); // destroys pending handlers, and with them the sessions
}

// Closes the acceptor first, so that no session starts after the call.
void FrontServer::ForEachSession(const std::function<void(FrontSession&)>& act)
{
    std::promise<void> done;
    asio::post(rt_->io, [this, &done, &act] {
        asio::error_code ec;
        rt_->acceptor.close(ec);
        std::vector<std::weak_ptr<FrontSession>> all;
        {
            std::lock_guard<std::mutex> lk(mu_);
            all = sessions_;
        }
        for (auto& w : all)
            if (auto s = w.lock())
                act(*s);
        done.set_value();
    });
    done.get_future().wait();
}

std::vector<std::string> FrontServer::ReplayNotes() const
{
    return rt_ && rt_->context->capture ? rt_->context->capture->Notes() : std::vector<std::string>();
}

bool FrontServer::Running() const
{
    return rt_ != nullptr;
}

std::uint16_t FrontServer::Port() const
{
    return port_;
}

std::size_t FrontServer::ConnectionCount() const
{
    return recorder_.Count();
}

ConnectionStats FrontServer::Stats(std::size_t conn) const
{
    return recorder_.Stats(conn);
}

ConnectionRecord FrontServer::Connection(std::size_t conn) const
{
    return recorder_.Record(conn);
}

bool FrontServer::WaitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& pred) const
{
    return recorder_.WaitUntil(timeout, pred);
}

bool FrontServer::WaitForConnections(std::size_t count, std::chrono::milliseconds timeout) const
{
    return recorder_.WaitUntil(timeout, [this, count] { return recorder_.Count() >= count; });
}

std::shared_ptr<FrontSession> FrontServer::SessionAt(std::size_t conn) const
{
    std::lock_guard<std::mutex> lk(mu_);
    return conn < sessions_.size() ? sessions_[conn].lock() : nullptr;
}

void FrontServer::CloseConnection(std::size_t conn)
{
    if (auto s = SessionAt(conn))
        s->PostClose("closed on request");
}

void FrontServer::Silence(std::size_t conn)
{
    if (auto s = SessionAt(conn))
        s->PostSilent();
}

void FrontServer::Abort(std::size_t conn)
{
    if (auto s = SessionAt(conn))
        s->PostAbort();
}

void FrontServer::SendRaw(std::size_t conn, Bytes bytes)
{
    if (auto s = SessionAt(conn))
        s->PostRaw(std::move(bytes));
}

} // namespace mdfront
