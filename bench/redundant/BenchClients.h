// The clients bench_redundant compares: a single client and a redundant one
// with two links, each an application that logs in, subscribes and notes
// when each record came. Records are noted in memory reserved beforehand;
// they are read once the client is released.
#pragma once

#include "MdApi.h"
#include "RedundantMdApi.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace benchred {

struct Arrival {
    int instrument;     // index into the subscription
    int slot;           // the record's number within the day (Volume)
    int day;            // ActionDay, YYYYMMDD
    long long atMicros; // when the callback saw it, system clock
};

class BenchClient final : public CThostFtdcMdSpi {
public:
    // links: 1 for the single client, else a redundant one with that many.
    BenchClient(const std::string& name, int links, const std::vector<std::string>& fronts,
                const std::vector<std::string>& instruments);
    ~BenchClient();

    void Release();
    const std::string& Name() const { return name_; }
    // Arrivals so far; read only after Release.
    const std::vector<Arrival>& Arrivals() const { return arrivals_; }
    std::size_t Count() const;
    mdlink::CRedundantMdApi* Redundant() const { return redundant_; }

    void OnFrontConnected() override;
    void OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info, int, bool) override;
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override;

private:
    std::string name_;
    std::vector<std::string> instruments_;
    CThostFtdcMdApi* api_ = nullptr;
    mdlink::CRedundantMdApi* redundant_ = nullptr;
    std::vector<Arrival> arrivals_;
    std::atomic<std::size_t> count_{0};
};

long long NowMicros();
// The start of a shared-feed slot: local midnight of `day` plus slot / rate.
long long SlotStartMicros(int day, int slot, double rate);

} // namespace benchred
