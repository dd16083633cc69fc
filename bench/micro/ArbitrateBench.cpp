// What the redundant client adds per depth record on the loop thread: the
// arbitration alone (DepthArbiter::Offer), and the whole path from a link's
// callback to the application's (an empty one), with records arriving over
// two links, each delivered by the first and dropped as a copy from the
// second. Each iteration is one record arriving; records cycle over 64
// instruments, each newer than the last of its instrument (its time moving
// on a millisecond a record), written in place as a receive path writes
// them.
#include "DepthArbiter.h"
#include "RedundantMdApi.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int Instruments = 64;

class Feed {
public:
    Feed() : records_(Instruments)
    {
        for (int i = 0; i < Instruments; ++i) {
            CThostFtdcDepthMarketDataField& d = records_[static_cast<std::size_t>(i)];
            std::memset(&d, 0, sizeof d);
            std::snprintf(d.InstrumentID, sizeof d.InstrumentID, "in%04d", i);
            std::strcpy(d.TradingDay, "20261208");
            std::strcpy(d.ExchangeID, "SHFE");
            std::strcpy(d.UpdateTime, "10:00:00");
            d.LastPrice = 600.0 + i;
        }
    }

    // Even steps bring a new record on link 0, odd steps its copy on link 1.
    CThostFtdcDepthMarketDataField& Step(long step, int& link)
    {
        link = static_cast<int>(step & 1);
        CThostFtdcDepthMarketDataField& d = records_[static_cast<std::size_t>((step >> 1) % Instruments)];
        if (link == 0) {
            ++d.Volume;
            if (++d.UpdateMillisec == 1000) {
                d.UpdateMillisec = 0;
                NextSecond(d.UpdateTime);
            }
            d.LastPrice += 0.5;
        }
        return d;
    }

private:
    // "HH:MM:SS" one second on, so that the feed's time never goes back.
    static void NextSecond(char* t)
    {
        const int pos[] = {7, 6, 4, 3, 1, 0};
        const char top[] = {'9', '5', '9', '5', '9', '9'};
        for (int i = 0; i < 6; ++i) {
            char& c = t[pos[i]];
            if (c < top[i]) {
                ++c;
                return;
            }
            c = '0';
        }
    }

    std::vector<CThostFtdcDepthMarketDataField> records_;
};

void BM_ArbitrateOffer(benchmark::State& state)
{
    mdlink::DepthArbiter arbiter(2);
    Feed feed;
    long step = 0;
    for (auto _ : state) {
        int link = 0;
        CThostFtdcDepthMarketDataField& d = feed.Step(step++, link);
        benchmark::DoNotOptimize(arbiter.Offer(link, d, static_cast<std::uint32_t>(step >> 10)));
    }
}
BENCHMARK(BM_ArbitrateOffer);

// A link that records what it is given, so that the benchmark can play its
// callbacks.
class BenchLink final : public CThostFtdcMdApi {
public:
    void Release() override { delete this; }
    void Init() override {}
    int Join() override { return 0; }
    const char* GetTradingDay() override { return nullptr; }
    void RegisterFront(char*) override {}
    void RegisterNameServer(char*) override {}
    void RegisterFensUserInfo(CThostFtdcFensUserInfoField*) override {}
    void RegisterSpi(CThostFtdcMdSpi* s) override { spi = s; }
    int SubscribeMarketData(char*[], int) override { return 0; }
    int UnSubscribeMarketData(char*[], int) override { return 0; }
    int SubscribeForQuoteRsp(char*[], int) override { return 0; }
    int UnSubscribeForQuoteRsp(char*[], int) override { return 0; }
    int ReqUserLogin(CThostFtdcReqUserLoginField*, int) override { return 0; }
    int ReqUserLogout(CThostFtdcUserLogoutField*, int) override { return 0; }
    int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField*, int) override { return 0; }

    CThostFtdcMdSpi* spi = nullptr;
};

std::vector<BenchLink*> g_links;

CThostFtdcMdApi* NewBenchLink()
{
    g_links.push_back(new BenchLink);
    return g_links.back();
}

class CountingSpi : public CThostFtdcMdSpi {
public:
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField*) override { ++count; }
    long count = 0;
};

void BM_RedundantDepth(benchmark::State& state)
{
    g_links.clear();
    mdlink::CRedundantMdApi* api = mdlink::CRedundantMdApi::Create(2, &NewBenchLink);
    CountingSpi app;
    api->RegisterSpi(&app);
    char a[] = "tcp://127.0.0.1:1";
    char b[] = "tcp://127.0.0.1:2";
    api->RegisterFront(a);
    api->RegisterFront(b);
    api->Init();
    CThostFtdcMdSpi* spis[2] = {g_links[0]->spi, g_links[1]->spi};
    Feed feed;
    long step = 0;
    for (auto _ : state) {
        int link = 0;
        CThostFtdcDepthMarketDataField& d = feed.Step(step++, link);
        spis[link]->OnRtnDepthMarketData(&d);
    }
    state.counters["delivered"] = static_cast<double>(app.count);
    api->Release();
}
BENCHMARK(BM_RedundantDepth);

} // namespace
