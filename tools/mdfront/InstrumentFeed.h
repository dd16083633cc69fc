// The source of one instrument's depth records on one connection: the
// random walk, or the instrument's records of a replay file in a loop.
#pragma once

#include "DepthWalk.h"
#include "ReplayBook.h"

#include <cstddef>
#include <memory>
#include <optional>

namespace mdfront {

class InstrumentFeed {
public:
    InstrumentFeed(const InstrumentInfo& instrument, const std::string& tradingDay, std::uint64_t seed,
                   std::shared_ptr<const ReplayBook> replay);

    CThostFtdcDepthMarketDataField Next(const mdtools::LocalStamp& now);

private:
    std::optional<DepthWalk> walk_;
    std::shared_ptr<const ReplayBook> replay_;
    const std::vector<CThostFtdcDepthMarketDataField>* records_ = nullptr;
    std::size_t cursor_ = 0;
};

} // namespace mdfront
