#include "Probe.h"

#include <cstring>

namespace soak {

void Probe::Start(const std::string& front)
{
    started_ = std::chrono::steady_clock::now();
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
    const std::int64_t gap = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_).count();
    if (haveLast_ && gap > longestGapNs_.load()) {
        longestGapNs_.store(gap);
        longestGapAt_ = std::chrono::duration<double>(now - started_).count();
    }
    last_ = now;
    haveLast_ = true;
    records_.fetch_add(1, std::memory_order_relaxed);
}

} // namespace soak
