#include "InstrumentFeed.h"

namespace mdfront {

InstrumentFeed::InstrumentFeed(const InstrumentInfo& instrument, const std::string& tradingDay,
                               std::uint64_t seed, std::shared_ptr<const ReplayBook> replay)
    : replay_(std::move(replay))
{
    if (replay_)
        records_ = &replay_->Records(instrument.id);
    if (!records_ || records_->empty())
        walk_.emplace(instrument, tradingDay, seed);
}

CThostFtdcDepthMarketDataField InstrumentFeed::Next(const mdtools::LocalStamp& now)
{
    if (walk_)
        return walk_->Next(now);
    const CThostFtdcDepthMarketDataField& d = (*records_)[cursor_];
    cursor_ = (cursor_ + 1) % records_->size();
    return d;
}

} // namespace mdfront
