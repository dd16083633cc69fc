// The library's own delivery rate, measured the way the Python benchmark
// measures the package: one client, logged in and subscribed, counting depth
// records in OnRtnDepthMarketData for a fixed time after the first one.
//
//   mdlink_count_rate tcp://127.0.0.1:PORT SECONDS INSTRUMENT...
// prints "records N seconds S".
#include "MdApi.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

class Counter : public CThostFtdcMdSpi {
public:
    Counter(CThostFtdcMdApi* api, std::vector<std::string> ids) : api_(api), ids_(std::move(ids)) {}

    void OnFrontConnected() override
    {
        CThostFtdcReqUserLoginField req;
        std::memset(&req, 0, sizeof req);
        std::strcpy(req.BrokerID, "9999");
        std::strcpy(req.UserID, "bench");
        api_->ReqUserLogin(&req, 1);
    }

    void OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info, int, bool) override
    {
        if (info && info->ErrorID != 0)
            return;
        std::vector<char*> ptrs;
        for (std::string& id : ids_)
            ptrs.push_back(&id[0]);
        api_->SubscribeMarketData(ptrs.data(), static_cast<int>(ptrs.size()));
    }

    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override
    {
        if (d)
            count.fetch_add(1, std::memory_order_relaxed);
    }

    std::atomic<unsigned long long> count{0};

private:
    CThostFtdcMdApi* api_;
    std::vector<std::string> ids_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FRONT SECONDS INSTRUMENT...\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
    Counter counter(api, std::vector<std::string>(argv + 3, argv + argc));
    api->RegisterSpi(&counter);
    api->RegisterFront(argv[1]);
    api->Init();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point give_up = Clock::now() + std::chrono::seconds(30);
    while (counter.count.load() == 0 && Clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const unsigned long long first = counter.count.load();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const unsigned long long n = counter.count.load() - first;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    api->Release();
    std::printf("records %llu seconds %.3f\n", n, elapsed);
    return n > 0 ? 0 : 1;
}
