#include "BenchClients.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace benchred {

namespace {

CThostFtdcMdApi* NewSingle()
{
    return CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
}

} // namespace

long long NowMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

long long SlotStartMicros(int day, int slot, double rate)
{
    std::tm tm{};
    tm.tm_year = day / 10000 - 1900;
    tm.tm_mon = day / 100 % 100 - 1;
    tm.tm_mday = day % 100;
    tm.tm_isdst = -1;
    const long long midnight = static_cast<long long>(std::mktime(&tm)) * 1000000;
    return midnight + static_cast<long long>(static_cast<double>(slot) * 1e6 / rate + 0.5);
}

BenchClient::BenchClient(const std::string& name, int links, const std::vector<std::string>& fronts,
                         const std::vector<std::string>& instruments)
    : name_(name), instruments_(instruments)
{
    arrivals_.reserve(4 << 20);
    if (links > 1) {
        redundant_ = mdlink::CRedundantMdApi::Create(links, &NewSingle);
        api_ = redundant_;
    } else {
        api_ = NewSingle();
    }
    api_->RegisterSpi(this);
    for (std::string front : fronts)
        api_->RegisterFront(&front[0]);
    api_->Init();
}

BenchClient::~BenchClient()
{
    Release();
}

void BenchClient::Release()
{
    if (api_)
        api_->Release();
    api_ = nullptr;
}

std::size_t BenchClient::Count() const
{
    return count_.load(std::memory_order_relaxed);
}

void BenchClient::OnFrontConnected()
{
    CThostFtdcReqUserLoginField req;
    std::memset(&req, 0, sizeof req);
    std::strcpy(req.BrokerID, "9999");
    std::strcpy(req.UserID, "bench");
    api_->ReqUserLogin(&req, 1);
}

void BenchClient::OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info, int, bool)
{
    if (info && info->ErrorID != 0)
        return;
    std::vector<std::string> ids = instruments_;
    std::vector<char*> ptrs;
    for (std::string& id : ids)
        ptrs.push_back(&id[0]);
    api_->SubscribeMarketData(ptrs.data(), static_cast<int>(ptrs.size()));
}

void BenchClient::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d)
{
    const long long now = NowMicros();
    int instrument = 0;
    while (instrument < static_cast<int>(instruments_.size()) &&
           instruments_[static_cast<std::size_t>(instrument)] != d->InstrumentID)
        ++instrument;
    if (arrivals_.size() < arrivals_.capacity())
        arrivals_.push_back({instrument, d->Volume, std::atoi(d->ActionDay), now});
    count_.fetch_add(1, std::memory_order_relaxed);
}

} // namespace benchred
