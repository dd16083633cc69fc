// An application that knows only the published header: it loads the library,
// asks its version, creates a client with two fronts registered for failover,
// and releases it.
//
//   mdlink_app_smoke                   both fronts refuse connections: it
//                                      hears of the failure
//   mdlink_app_smoke A B RECORDS       fronts serving a numbered feed (Volume
//                                      counts up by one per instrument): it
//                                      logs in, subscribes and checks that
//                                      RECORDS records come, each once and in
//                                      order, with no OnFrontDisconnected
#include "MdApi.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

class Spi : public CThostFtdcMdSpi {
public:
    CThostFtdcMdApi* api = nullptr;

    void OnFrontConnected() override
    {
        CThostFtdcReqUserLoginField req;
        std::memset(&req, 0, sizeof req);
        std::strcpy(req.BrokerID, "9999");
        std::strcpy(req.UserID, "smoke");
        api->ReqUserLogin(&req, 1);
    }
    void OnFrontDisconnected(int nReason) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (reason == 0)
            reason = nReason;
        done.notify_all();
    }
    void OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info, int, bool) override
    {
        if (info && info->ErrorID != 0)
            return;
        char au[] = "au2612";
        char ag[] = "ag2612";
        char* ids[] = {au, ag};
        api->SubscribeMarketData(ids, 2);
    }
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = last.find(d->InstrumentID);
        if (it != last.end() && d->Volume != it->second + 1 && d->Volume != 0) {
            std::fprintf(stderr, "%s: record %d after %d\n", d->InstrumentID, d->Volume, it->second);
            broken = true;
        }
        last[d->InstrumentID] = d->Volume;
        if (++records % 50 == 0) {
            std::printf("records %d\n", records);
            std::fflush(stdout);
        }
        done.notify_all();
    }

    std::mutex mutex;
    std::condition_variable done;
    int reason = 0;
    int records = 0;
    bool broken = false;
    std::map<std::string, int> last;
};

int Fail(const char* what)
{
    std::fprintf(stderr, "FAILED: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (std::strcmp(GetApiVersion(), "1.4.1.3") != 0 ||
        std::strcmp(CThostFtdcMdApi::GetApiVersion(), "1.4.1.3") != 0)
        return Fail("version");
    // Port 1 on loopback: nothing listens there.
    std::string fronts[2] = {"tcp://127.0.0.1:1", "tcp://127.0.0.1:1"};
    const bool feed = argc > 3;
    if (feed) {
        fronts[0] = argv[1];
        fronts[1] = argv[2];
    }
    const int wanted = feed ? std::atoi(argv[3]) : 0;

    Spi spi;
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
    if (!api)
        return Fail("no client");
    spi.api = api;
    api->RegisterSpi(&spi);
    for (std::string& front : fronts)
        api->RegisterFront(&front[0]);
    api->Init();
    bool ok = false;
    {
        std::unique_lock<std::mutex> lock(spi.mutex);
        ok = spi.done.wait_for(lock, std::chrono::seconds(feed ? 120 : 30), [&] {
            return feed ? spi.records >= wanted || spi.reason != 0 || spi.broken : spi.reason != 0;
        });
    }
    api->Release();
    if (!ok)
        return Fail(feed ? "too few records" : "no OnFrontDisconnected");
    if (!feed) {
        std::printf("connection refused with reason %d; released\n", spi.reason);
        return 0;
    }
    if (spi.reason != 0)
        return Fail("OnFrontDisconnected");
    if (spi.broken)
        return Fail("a record lost, twice or out of order");
    std::printf("%d records, each once and in order; released\n", spi.records);
    return 0;
}
