// The callback object of one link's inner client: every callback goes to
// the redundant client with the link's number.
#pragma once

#include "MdApi.h"

namespace mdlink {

class CRedundantMdClient;

class LinkSpi final : public CThostFtdcMdSpi {
public:
    LinkSpi(CRedundantMdClient& client, int link) : client_(client), link_(link) {}

    void OnFrontConnected() override;
    void OnFrontDisconnected(int nReason) override;
    void OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int requestId,
                        bool isLast) override;
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                            int requestId, bool isLast) override;
    void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                              int requestId, bool isLast) override;
    void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                             int requestId, bool isLast) override;
    void OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                               int requestId, bool isLast) override;
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth) override;
    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* notice) override;

private:
    CRedundantMdClient& client_;
    const int link_;
};

} // namespace mdlink
