// A redundant client of the soak: two links to a pair of fronts serving one
// feed, with the application around it (log in on every OnFrontConnected,
// subscribe after a good login) misbehaving when the driver asks.
//
// Each link's inner client is wrapped by a spy (SpyApi, made by the
// redundant client's factory) that sees every record a link brings before
// the redundant client does; the application sees what the redundant client
// delivers. Per instrument a SlotCheck judges the two: each number at most
// once and in order, and none lost that reached a link while it was news.
//
//   inner client -> spy (Brought) -> redundant client -> application (Delivered)
#pragma once

#include "Checks.h"
#include "Client.h"
#include "SoakClient.h"
#include "Tally.h"

#include "MdApi.h"
#include "RedundantMdApi.h"

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace soak {

class PairClient final : public SoakClient {
public:
    PairClient(const ClientShared& shared, Slot& slot, int index, int generation);
    ~PairClient() override;
    PairClient(const PairClient&) = delete;
    PairClient& operator=(const PairClient&) = delete;

    void Start() override;
    void ReleaseFromThread(bool atEnd = false) override;
    void SwitchSpi() override;

    // From the spies, on the loop thread.
    void LinkUp(int link);
    void Brought(int link, const CThostFtdcDepthMarketDataField& d);

private:
    class AppSpi;
    class Scope;
    class SpyApi;
    CThostFtdcMdApi* MakeSpiedLink(int link);

    // The application's callbacks, on the loop thread.
    void OnConnected(int spi);
    void OnDisconnected(int spi, int reason);
    void OnLogin(int spi, CThostFtdcRspInfoField* info);
    void OnDepth(int spi, const CThostFtdcDepthMarketDataField* d);
    void OnOther(int spi);
    int InstrumentOf(const char* id) const;
    void Lost(std::uint64_t lost, const CThostFtdcDepthMarketDataField& d);
    void ReleaseHere();
    void Finish();
    void MaybeThrow();

    const ClientShared& shared_;
    Tally& tally_;
    Slot& slot_;
    const int index_;
    const int generation_;
    mdlink::CRedundantMdApi* api_ = nullptr;
    std::vector<AppSpi*> spis_;
    int currentSpi_ = 0;
    std::atomic<int> allowedSpis_{0};
    std::vector<std::string> instruments_;
    std::vector<SlotCheck> checks_; // per instrument; loop thread (driver once released)
    // Per link and instrument, the number the link brought last on its
    // connection; -1 for none. Loop thread.
    std::vector<std::vector<int>> previous_;

    bool releaseCalled_ = false;        // under the slot's lock
    bool releasedHere_ = false;         // loop thread
    std::atomic<bool> released_{false}; // Release has returned (or its callback has)
};

} // namespace soak
