#include "FrontSession.h"

#include "FrontErrors.h"
#include "LocalTime.h"

#include <algorithm>
#include <cstring>

namespace mdfront {

namespace {

// A request body beyond this is taken as a corrupt stream; client requests
// stay far below it.
constexpr std::uint32_t MaxRequestBody = 1u << 20;

std::string PeerText(const asio::ip::tcp::socket& s)
{
    asio::error_code ec;
    const auto ep = s.remote_endpoint(ec);
    return ec ? std::string("?") : ep.address().to_string() + ":" + std::to_string(ep.port());
}

// Frames go out one byte per send when a fault says so.
std::optional<std::chrono::microseconds> ByteDelayOf(const std::vector<std::unique_ptr<Fault>>& faults)
{
    for (const auto& f : faults)
        if (auto delay = f->ByteDelay())
            return delay;
    return std::nullopt;
}

// Two fronts of one feed share their seed, not their jitter.
std::uint64_t JitterSeed(const FrontConfig& cfg, std::size_t index)
{
    const std::uint64_t base = cfg.jitter_seed != 0 ? cfg.jitter_seed : std::random_device{}();
    return base * 0x9E3779B97F4A7C15ull + index;
}

} // namespace

FrontSession::FrontSession(asio::ip::tcp::socket socket, std::shared_ptr<const SessionContext> context,
                           std::size_t index, FrontFaults faults)
    : socket_(std::move(socket)), ctx_(std::move(context)), cfg_(ctx_->config), rec_(*ctx_->recorder),
      index_(index), sessionId_(static_cast<int>(index) + 1),
      rng_(ctx_->config.seed * 0x9E3779B97F4A7C15ull + index), faults_(MakeFaults(faults)),
      byteDelay_(ByteDelayOf(faults_)),
      delayed_(ctx_->config.delay, ctx_->config.jitter, JitterSeed(ctx_->config, index)),
      pushTimer_(socket_.get_executor()), forQuoteTimer_(socket_.get_executor()),
      trickleTimer_(socket_.get_executor()), closeTimer_(socket_.get_executor()),
      delayTimer_(socket_.get_executor())
{
    if (cfg_.shared_feed && cfg_.rate > 0)
        slots_.emplace(cfg_.rate);
}

void FrontSession::Start()
{
    asio::error_code ec;
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    Event("accepted from " + PeerText(socket_));
    for (const auto& f : faults_)
        f->OnAccept(*this);
    ReadHeader();
}

void FrontSession::Event(const std::string& text) const
{
    if (cfg_.on_event)
        cfg_.on_event("connection " + std::to_string(index_) + ": " + text);
}

void FrontSession::ReadHeader()
{
    auto self = shared_from_this();
    asio::async_read(socket_, asio::buffer(header_), [self](const asio::error_code& ec, std::size_t) {
        if (self->closed_)
            return;
        if (ec) {
            self->peerEnded_ = ec == asio::error::eof;
            self->CloseNow(self->peerEnded_ ? "closed by the client" : "read error: " + ec.message());
            return;
        }
        self->current_ = mdlink::DecodeHeader(self->header_.data());
        self->ReadBody();
    });
}

void FrontSession::ReadBody()
{
    const std::uint32_t length = current_.BodyLength;
    if (length > MaxRequestBody) {
        CloseNow("request body of " + std::to_string(length) + " bytes, stream taken as corrupt");
        return;
    }
    if (length == 0) {
        Dispatch(current_, Bytes());
        ReadHeader();
        return;
    }
    body_.assign(length, 0);
    auto self = shared_from_this();
    asio::async_read(socket_, asio::buffer(body_), [self](const asio::error_code& ec, std::size_t) {
        if (self->closed_)
            return;
        if (ec) {
            self->CloseNow("lost in the middle of a request body: " + ec.message());
            return;
        }
        self->Dispatch(self->current_, std::move(self->body_));
        self->ReadHeader();
    });
}

void FrontSession::Dispatch(const mdlink::FrameHeader& header, Bytes body)
{
    rec_.Received(index_, ReceivedFrame{header, body});
    switch (header.MsgType) {
    case mdlink::MsgUserLogin: OnLogin(header, body); break;
    case mdlink::MsgSubscribeMarketData:
    case mdlink::MsgUnSubscribeMarketData:
    case mdlink::MsgSubscribeForQuoteRsp:
    case mdlink::MsgUnSubscribeForQuoteRsp: OnInstrumentList(header, body); break;
    case mdlink::MsgHeartBeat: QueueFrame(HeartBeatReply(header.RequestId), SentFrame{}); break;
    default: break; // recorded, otherwise ignored
    }
}

int FrontSession::CheckLogin(const CThostFtdcReqUserLoginField& req, std::string& message) const
{
    for (const auto& f : faults_) {
        if (f->RefusesLogin()) {
            message = TextLoginRefused;
            return ErrLoginRefused;
        }
    }
    const bool userOk = cfg_.user.empty() || MemberText(req.UserID, sizeof req.UserID) == cfg_.user;
    const bool passOk =
        cfg_.password.empty() || MemberText(req.Password, sizeof req.Password) == cfg_.password;
    if (!userOk || !passOk) {
        message = TextBadCredentials;
        return ErrBadCredentials;
    }
    message = TextOk;
    return 0;
}

void FrontSession::OnLogin(const mdlink::FrameHeader& header, const Bytes& body)
{
    CThostFtdcReqUserLoginField req;
    std::memset(&req, 0, sizeof req);
    if (!body.empty()) // a login without a record has no body
        std::memcpy(&req, body.data(), std::min(body.size(), sizeof req));
    std::string message;
    const int error = CheckLogin(req, message);

    const mdtools::LocalStamp now = mdtools::NowLocal();
    CThostFtdcRspUserLoginField rsp;
    std::memset(&rsp, 0, sizeof rsp);
    CopyText(rsp.TradingDay, sizeof rsp.TradingDay, ctx_->trading_day);
    CopyText(rsp.LoginTime, sizeof rsp.LoginTime, now.time);
    CopyText(rsp.BrokerID, sizeof rsp.BrokerID, MemberText(req.BrokerID, sizeof req.BrokerID));
    CopyText(rsp.UserID, sizeof rsp.UserID, MemberText(req.UserID, sizeof req.UserID));
    CopyText(rsp.SystemName, sizeof rsp.SystemName, "mdfront simulator");
    rsp.FrontID = cfg_.front_id;
    rsp.SessionID = sessionId_;
    CopyText(rsp.MaxOrderRef, sizeof rsp.MaxOrderRef, "1");
    for (char* t : {rsp.SHFETime, rsp.DCETime, rsp.CZCETime, rsp.FFEXTime, rsp.INETime})
        CopyText(t, 9, now.time);

    Bytes out = LoginResponseBody(rsp, MakeRspInfo(error, message));
    ApplyCut(out, Shape(BodyKind::Login));
    QueueFrame(MakeFrame(mdlink::MsgRspUserLogin, header.RequestId, true, out), SentFrame{});

    const std::string user = MemberText(req.UserID, sizeof req.UserID);
    if (error != 0) {
        Event("login of user '" + user + "' refused: " + message);
        return;
    }
    Event("user '" + user + "' logged in");
    loggedIn_ = true;
    rec_.Update(index_, [&user](ConnectionStats& s) {
        s.logged_in = true;
        s.user = user;
    });
    AfterLoginFaults();
}

void FrontSession::OnInstrumentList(const mdlink::FrameHeader& header, const Bytes& body)
{
    const std::vector<std::string> ids = SplitInstrumentList(body.data(), body.size());
    const std::uint32_t rspType = ResponseTypeOf(header.MsgType);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        std::string message;
        const int error = ApplyInstrument(header.MsgType, ids[i], message);
        Bytes out = InstrumentResponseBody(ids[i], MakeRspInfo(error, message));
        ApplyCut(out, Shape(BodyKind::Instrument));
        QueueFrame(MakeFrame(rspType, header.RequestId, i + 1 == ids.size(), out), SentFrame{});
    }
    if (header.MsgType == mdlink::MsgSubscribeMarketData)
        ArmPushTimer();
    for (const std::string& id : newForQuoteSubs_)
        PushForQuote(id); // the first notice right behind its response
    newForQuoteSubs_.clear();
    ArmForQuoteTimer();
}

int FrontSession::ApplyInstrument(std::uint32_t requestType, const std::string& id, std::string& message)
{
    if (!loggedIn_) {
        message = TextNotLoggedIn;
        return ErrNotLoggedIn;
    }
    const bool known = id.size() > 0 && (ctx_->any_instrument || ctx_->known.count(id) > 0);
    if (!known) {
        message = TextInstrumentNotFound;
        return ErrInstrumentNotFound;
    }
    message = TextOk;
    switch (requestType) {
    case mdlink::MsgSubscribeMarketData: Subscribe(id); break;
    case mdlink::MsgUnSubscribeMarketData: Unsubscribe(id); break;
    case mdlink::MsgSubscribeForQuoteRsp: SubscribeForQuote(id); break;
    default: UnsubscribeForQuote(id); break;
    }
    return 0;
}

} // namespace mdfront
