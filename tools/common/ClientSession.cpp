#include "ClientSession.h"

#include "LocalTime.h"

#include <cstring>
#include <system_error>

namespace mdtools {

namespace {

// Reason codes of a link that was up, as the library reports them.
constexpr int ReasonLinkLost = 0x2001;
constexpr int ReasonHeartBeatTimeout = 0x2002;

void Copy(char* dst, std::size_t width, const std::string& text)
{
    std::memset(dst, 0, width);
    std::memcpy(dst, text.data(), text.size() < width ? text.size() : width - 1);
}

std::string Text(const char* src, std::size_t width)
{
    const void* nul = std::memchr(src, 0, width);
    return std::string(src, nul ? static_cast<const char*>(nul) : src + width);
}

std::string ErrorText(const CThostFtdcRspInfoField& info)
{
    return "error " + std::to_string(info.ErrorID) + ": " + Text(info.ErrorMsg, sizeof info.ErrorMsg);
}

} // namespace

ClientSession::ClientSession(const SessionOptions& options, MarketBoard& board, CsvWriter* csv)
    : options_(options), board_(board), csv_(csv)
{
    for (std::string& id : options_.instruments)
        instrumentIds_.push_back(&id[0]);
    for (std::string& id : options_.forquote)
        forQuoteIds_.push_back(&id[0]);
}

std::string ClientSession::DisconnectText(int reason)
{
    if (reason == ReasonLinkLost)
        return "connection lost";
    if (reason == ReasonHeartBeatTimeout)
        return "heartbeat timeout, the library moves to the next front";
    // Otherwise the platform's error number of a failed connection attempt.
    return "connection failed: " + std::system_category().message(reason) + " (" + std::to_string(reason) +
        ")";
}

void ClientSession::OnFrontConnected()
{
    board_.AddEvent("connected to the front");
    CThostFtdcReqUserLoginField req;
    std::memset(&req, 0, sizeof req);
    Copy(req.BrokerID, sizeof req.BrokerID, options_.broker);
    Copy(req.UserID, sizeof req.UserID, options_.user);
    Copy(req.Password, sizeof req.Password, options_.password);
    Copy(req.UserProductInfo, sizeof req.UserProductInfo, "mdcli"); // mdrelay's logins too
    if (api_->ReqUserLogin(&req, nextRequestId_++) != 0)
        board_.AddEvent("login request could not be sent");
}

void ClientSession::OnFrontDisconnected(int nReason)
{
    board_.AddEvent(DisconnectText(nReason));
}

void ClientSession::OnRspUserLogin(CThostFtdcRspUserLoginField* pRspUserLogin,
                                   CThostFtdcRspInfoField* pRspInfo, int, bool)
{
    if (pRspInfo && pRspInfo->ErrorID != 0) {
        board_.AddEvent("login failed: " + ErrorText(*pRspInfo));
        return;
    }
    std::string text = "logged in";
    if (pRspUserLogin)
        text += ", trading day " + Text(pRspUserLogin->TradingDay, sizeof pRspUserLogin->TradingDay) +
            ", front " + std::to_string(pRspUserLogin->FrontID) + ", session " +
            std::to_string(pRspUserLogin->SessionID);
    board_.AddEvent(text);
    Subscribe();
}

void ClientSession::Subscribe()
{
    const int n = static_cast<int>(instrumentIds_.size());
    if (n > 0 && api_->SubscribeMarketData(instrumentIds_.data(), n) != 0)
        board_.AddEvent("subscription request could not be sent");
    const int q = static_cast<int>(forQuoteIds_.size());
    if (q > 0 && api_->SubscribeForQuoteRsp(forQuoteIds_.data(), q) != 0)
        board_.AddEvent("for-quote subscription request could not be sent");
}

void ClientSession::SubscriptionAnswer(const char* what, CThostFtdcSpecificInstrumentField* instrument,
                                       CThostFtdcRspInfoField* info)
{
    const std::string id = instrument ? Text(instrument->InstrumentID, sizeof instrument->InstrumentID) : "?";
    if (info && info->ErrorID != 0)
        board_.AddEvent(std::string(what) + " " + id + " failed: " + ErrorText(*info));
    else
        board_.AddEvent(std::string(what) + " " + id);
}

void ClientSession::OnRspSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                       CThostFtdcRspInfoField* pRspInfo, int, bool)
{
    SubscriptionAnswer("subscribed", pSpecificInstrument, pRspInfo);
}

void ClientSession::OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                        CThostFtdcRspInfoField* pRspInfo, int, bool)
{
    SubscriptionAnswer("subscribed for-quote notices of", pSpecificInstrument, pRspInfo);
}

void ClientSession::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* pDepthMarketData)
{
    if (!pDepthMarketData)
        return;
    // Stamped before the board's lock can hold it up.
    const std::int64_t captureNs = capture_ ? CaptureTap::Now() : 0;
    const long long now = NowMicros();
    delivered_.store(delivered_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    board_.AddDepth(*pDepthMarketData, now);
    if (csv_)
        csv_->Write(now, *pDepthMarketData);
    if (capture_)
        capture_->Add(*pDepthMarketData, captureNs);
}

void ClientSession::OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* pForQuoteRsp)
{
    if (!pForQuoteRsp)
        return;
    board_.AddForQuote();
    board_.AddEvent(ForQuoteText(*pForQuoteRsp));
}

std::string ClientSession::ForQuoteText(const CThostFtdcForQuoteRspField& q)
{
    return "for-quote notice " + Text(q.ForQuoteSysID, sizeof q.ForQuoteSysID) + " for " +
        Text(q.InstrumentID, sizeof q.InstrumentID) + " at " + Text(q.ForQuoteTime, sizeof q.ForQuoteTime);
}

} // namespace mdtools
