#include "Probe.h"

#include "Tally.h"

#include <cstring>

namespace soak {

void Probe::Start(const std::string& front)
{
    api_ = CThostFtdcMdApi::CreateFtdcMdApi();
    api_->RegisterSpi(this);
    std::string address = front;
    api_->RegisterFront(&address[0]);
    api_->Init();
}

void Probe::Release()
{
    if (api_)
        api_->Release();
    api_ = nullptr;
}

void Probe::OnFrontConnected()
{
    haveLast_ = false;
    CThostFtdcReqUserLoginField req;
    std::memset(&req, 0, sizeof req);
    std::strcpy(req.UserID, "probe");
    api_->ReqUserLogin(&req, 1);
}

void Probe::OnFrontDisconnected(int)
{
    haveLast_ = false; // a gap across connections is not the loop's
}

void Probe::OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField*, int, bool)
{
    char id[] = "probe";
    char* ids[] = {id};
    api_->SubscribeMarketData(ids, 1);
}

void Probe::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField*)
{
    const auto now = std::chrono::steady_clock::now();
    if (haveLast_)
        Tally::Raise(longestGapNs_,
                     std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_).count());
    last_ = now;
    haveLast_ = true;
    records_.fetch_add(1, std::memory_order_relaxed);
}

} // namespace soak
