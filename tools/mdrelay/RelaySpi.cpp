#include "RelaySpi.h"

#include <chrono>

namespace mdrelay {

std::int64_t WallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void RelaySpi::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth)
{
    if (!depth)
        return;
    // One receive time for the bus and the capture: both read the system clock.
    const std::int64_t now = WallClockNs();
    queue_.Push(RecordKind::Depth, depth, sizeof *depth, now);
    if (capture_)
        capture_->Add(*depth, now);
}

void RelaySpi::OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* notice)
{
    if (notice)
        queue_.Push(RecordKind::ForQuote, notice, sizeof *notice, WallClockNs());
}

} // namespace mdrelay
