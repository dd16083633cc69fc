// Exceptions out of the application's callbacks: contained, and told.
//
// An exception escaping a CThostFtdcMdSpi callback is caught where the client
// made the call; the client carries on as if the callback had returned. Each
// one is counted in an err record naming the callback:
//   <callback> threw: <what> (<N> since the last record)
// Per callback, the first few are written one by one, then at most one a
// second, so that an application that throws on every record cannot make the
// log its bottleneck; the client's destruction writes what is still counted.
// The sum of N over the records is the number of exceptions.
#include "api/MdClient.h"

#include <cstdio>

namespace {

const char* const CallbackNames[CKelvoMDClient::SpiCallbackCount] = {
    "OnFrontConnected",    "OnFrontDisconnected",  "OnRspUserLogin",
    "OnRspSubMarketData",  "OnRspUnSubMarketData", "OnRspSubForQuoteRsp",
    "OnRspUnSubForQuoteRsp", "OnRtnDepthMarketData", "OnRtnForQuoteRsp",
};

constexpr std::uint32_t RecordsAtOnce = 5;
constexpr unsigned int RecordIntervalMs = 1000;

} // namespace

void CKelvoMDClient::SpiThrew(SpiCallback which, const char* what)
{
    SpiFault& fault = SpiFaults[which];
    fault.pending += 1;
    std::snprintf(fault.what, sizeof fault.what, "%s", what ? what : "unknown exception");
    const unsigned int now = Kelvo_THREAD_GetTickCount();
    if (fault.written >= RecordsAtOnce && now - fault.lastRecordMs < RecordIntervalMs)
        return;
    WriteSpiFault(which);
    fault.lastRecordMs = now;
}

void CKelvoMDClient::WriteSpiFault(SpiCallback which)
{
    SpiFault& fault = SpiFaults[which];
    WriteLog(1, "Callback", "%s threw: %s (%u since the last record)", CallbackNames[which],
             fault.what, fault.pending);
    fault.pending = 0;
    fault.written += 1;
}

void CKelvoMDClient::FlushSpiFaults()
{
    for (int which = 0; which < SpiCallbackCount; ++which)
        if (SpiFaults[which].pending != 0)
            WriteSpiFault(static_cast<SpiCallback>(which));
}
