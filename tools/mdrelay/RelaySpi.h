// The relay's callbacks on the library's thread: the tools' client session
// (log in on every connection, subscribe after each good login, events on
// the board), with every depth record and for-quote notice pushed onto the
// record queue instead of shown, and every depth record to the capture
// writer when there is one. Nothing here waits.
#pragma once

#include "ClientSession.h"
#include "RecordQueue.h"

namespace mdrelay {

class RelaySpi final : public mdtools::ClientSession {
public:
    RelaySpi(const mdtools::SessionOptions& session, mdtools::MarketBoard& events, RecordQueue& queue,
             mdtools::CaptureTap* capture = nullptr)
        : ClientSession(session, events, nullptr), queue_(queue), capture_(capture)
    {}

    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth) override;
    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* notice) override;

private:
    RecordQueue& queue_;
    mdtools::CaptureTap* capture_;
};

// The local time in ns since the epoch (a vDSO read, no system call).
std::int64_t WallClockNs();

} // namespace mdrelay
