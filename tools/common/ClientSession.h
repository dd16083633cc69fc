// A client tool's session with the fronts (mdcli's, and mdrelay's under its
// queue): the callbacks, on the library's thread. Everything they learn goes
// to the MarketBoard (and the CSV file); the main thread draws.
// Logs in on every connection, since the library does not, and subscribes
// after each successful login, since the front forgets subscriptions with
// the link.
#pragma once

#include "CaptureTap.h"
#include "CsvWriter.h"
#include "MarketBoard.h"
#include "MdApi.h"
#include "SessionOptions.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace mdtools {

class ClientSession : public CThostFtdcMdSpi {
public:
    ClientSession(const SessionOptions& options, MarketBoard& board, CsvWriter* csv);
    ClientSession(const ClientSession&) = delete; // holds pointers into its own members
    ClientSession& operator=(const ClientSession&) = delete;

    // The client to send requests on; set before Init.
    void Attach(CThostFtdcMdApi* api) { api_ = api; }
    // Where every depth record goes too, with its receive time; set before Init.
    void Capture(CaptureTap* tap) { capture_ = tap; }

    void OnFrontConnected() override;
    void OnFrontDisconnected(int nReason) override;
    void OnRspUserLogin(CThostFtdcRspUserLoginField* pRspUserLogin, CThostFtdcRspInfoField* pRspInfo,
                        int nRequestID, bool bIsLast) override;
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                            CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) override;
    void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                             CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) override;
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* pDepthMarketData) override;
    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* pForQuoteRsp) override;

    // Depth records delivered so far; any thread, no lock (a metrics scrape).
    std::uint64_t Delivered() const { return delivered_.load(std::memory_order_relaxed); }

    // The words the tools print for a disconnection reason.
    static std::string DisconnectText(int reason);
    // The event line of a for-quote notice.
    static std::string ForQuoteText(const CThostFtdcForQuoteRspField& q);

private:
    void Subscribe();
    void SubscriptionAnswer(const char* what, CThostFtdcSpecificInstrumentField* instrument,
                            CThostFtdcRspInfoField* info);

    SessionOptions options_;
    MarketBoard& board_;
    CsvWriter* csv_;
    CaptureTap* capture_ = nullptr;
    CThostFtdcMdApi* api_ = nullptr;
    std::atomic<int> nextRequestId_{1};
    std::atomic<std::uint64_t> delivered_{0}; // one writer: the library's thread
    // The request operations take mutable id arrays; these point into the copies in options_.
    std::vector<char*> instrumentIds_;
    std::vector<char*> forQuoteIds_;
};

} // namespace mdtools
