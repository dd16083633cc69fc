// mdcli's callbacks. They run on the library's thread: everything they
// learn goes to the MarketBoard (and the CSV file); the main thread draws.
// Logs in on every connection, since the library does not, and subscribes
// after each successful login, since the front forgets subscriptions with
// the link.
#pragma once

#include "CliOptions.h"
#include "CsvWriter.h"
#include "MarketBoard.h"
#include "MdApi.h"

#include <atomic>
#include <string>
#include <vector>

namespace mdcli {

class CliSpi : public CThostFtdcMdSpi {
public:
    CliSpi(const CliOptions& options, MarketBoard& board, CsvWriter* csv);
    CliSpi(const CliSpi&) = delete; // holds pointers into its own members
    CliSpi& operator=(const CliSpi&) = delete;

    // The client to send requests on; set before Init.
    void Attach(CThostFtdcMdApi* api) { api_ = api; }

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

    // The words mdcli prints for a disconnection reason.
    static std::string DisconnectText(int reason);
    // The event line of a for-quote notice.
    static std::string ForQuoteText(const CThostFtdcForQuoteRspField& q);

private:
    void Subscribe();
    void SubscriptionAnswer(const char* what, CThostFtdcSpecificInstrumentField* instrument,
                            CThostFtdcRspInfoField* info);

    CliOptions options_;
    MarketBoard& board_;
    CsvWriter* csv_;
    CThostFtdcMdApi* api_ = nullptr;
    std::atomic<int> nextRequestId_{1};
    // The request operations take mutable id arrays; these point into the copies in options_.
    std::vector<char*> instrumentIds_;
    std::vector<char*> forQuoteIds_;
};

} // namespace mdcli
