// An application built on the target system with its own compiler and C++
// runtime, against the published header only. It logs in to the front given
// on the command line, subscribes one instrument and waits for depth records.
// Its first depth callback throws; the library, which carries a C++ runtime
// of its own, must contain that exception and go on delivering.
//   release_smoke tcp://HOST:PORT INSTRUMENT [RECORDS]
#include "MdApi.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

class Spi : public CThostFtdcMdSpi {
public:
    Spi(CThostFtdcMdApi* api, const char* instrument) : api_(api), instrument_(instrument) {}

    void OnFrontConnected() override
    {
        CThostFtdcReqUserLoginField req;
        std::memset(&req, 0, sizeof req);
        std::strcpy(req.BrokerID, "9999");
        std::strcpy(req.UserID, "smoke");
        std::strcpy(req.Password, "smoke");
        api_->ReqUserLogin(&req, 1);
    }

    void OnFrontDisconnected(int reason) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++disconnects;
        std::printf("disconnected, reason %#x\n", reason);
    }

    void OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info, int, bool) override
    {
        if (info && info->ErrorID != 0) {
            std::printf("login refused: %d\n", info->ErrorID);
            return;
        }
        char* ids[] = {&instrument_[0]};
        api_->SubscribeMarketData(ids, 1);
    }

    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (std::strcmp(d->InstrumentID, instrument_.c_str()) != 0 || !std::isfinite(d->LastPrice) ||
                d->LastPrice <= 0)
                ++bad;
            if (thrown)
                ++afterThrow;
            lastPrice = d->LastPrice;
            arrived.notify_all();
            if (thrown)
                return;
            thrown = true;
        }
        throw std::runtime_error("thrown by the application's depth callback");
    }

    template <class Done>
    bool WaitFor(Done done)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived.wait_for(lock, std::chrono::seconds(60), done);
    }

    std::mutex mutex_;
    std::condition_variable arrived;
    bool thrown = false;
    int afterThrow = 0;
    int bad = 0;
    int disconnects = 0;
    double lastPrice = 0;

private:
    CThostFtdcMdApi* api_;
    std::string instrument_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: release_smoke tcp://HOST:PORT INSTRUMENT [RECORDS]\n");
        return 2;
    }
    const int wanted = argc > 3 ? std::atoi(argv[3]) : 20;
    std::printf("library version %s\n", CThostFtdcMdApi::GetApiVersion());
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
    if (!api) {
        std::printf("FAILED: no client\n");
        return 1;
    }
    Spi spi(api, argv[2]);
    api->RegisterSpi(&spi);
    api->RegisterFront(argv[1]);
    api->Init();
    const bool got = spi.WaitFor([&] { return spi.afterThrow >= wanted; });
    api->Release();

    std::lock_guard<std::mutex> lock(spi.mutex_);
    std::printf("%s; %d records after it, last price %.17g; %d malformed; %d disconnects\n",
                spi.thrown ? "the first depth callback threw" : "no depth record", spi.afterThrow,
                spi.lastPrice, spi.bad, spi.disconnects);
    if (!got || spi.bad != 0 || spi.disconnects != 0) {
        std::printf("FAILED: wanted %d well-formed records after the exception on one link\n", wanted);
        return 1;
    }
    std::printf("OK\n");
    return 0;
}
