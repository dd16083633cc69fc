#include "LinkSpi.h"

#include "RedundantClient.h"

namespace mdlink {

void LinkSpi::OnFrontConnected()
{
    client_.LinkConnected(link_);
}

void LinkSpi::OnFrontDisconnected(int nReason)
{
    client_.LinkDisconnected(link_, nReason);
}

void LinkSpi::OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int requestId,
                             bool isLast)
{
    client_.LinkLogin(link_, login, info, requestId, isLast);
}

void LinkSpi::OnRspSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                                 int requestId, bool isLast)
{
    client_.LinkResponse(link_, ListKind::SubMarket, instrument, info, requestId, isLast);
}

void LinkSpi::OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* instrument,
                                   CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    client_.LinkResponse(link_, ListKind::UnSubMarket, instrument, info, requestId, isLast);
}

void LinkSpi::OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                                  int requestId, bool isLast)
{
    client_.LinkResponse(link_, ListKind::SubForQuote, instrument, info, requestId, isLast);
}

void LinkSpi::OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument,
                                    CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    client_.LinkResponse(link_, ListKind::UnSubForQuote, instrument, info, requestId, isLast);
}

void LinkSpi::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth)
{
    client_.LinkDepth(link_, depth);
}

void LinkSpi::OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* notice)
{
    client_.LinkForQuote(link_, notice);
}

} // namespace mdlink
