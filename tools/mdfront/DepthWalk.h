// Synthetic depth data for one instrument: the last price walks in ticks
// between the day's limits, five bid and ask levels sit around it, volume,
// turnover and open interest grow. Prices are kept as integer hundredths so
// every price is a short decimal.
#pragma once

#include "FrontConfig.h"
#include "LocalTime.h"
#include "MdApi.h"

#include <cstdint>
#include <random>
#include <string>

namespace mdfront {

// What a walk starts from: the instrument's scale and the day's reference
// prices, all in hundredths, fixed by the seed and the id.
struct WalkProfile {
    long long tick = 1;
    long long preSettle = 0;
    long long preClose = 0;
    long long upper = 0;
    long long lower = 0;
    long long preOpenInterest = 0;
    int multiplier = 10;
};

class DepthWalk {
public:
    DepthWalk(const InstrumentInfo& instrument, const std::string& tradingDay, std::uint64_t seed);

    WalkProfile Reference() const
    {
        return {tick_, preSettle_, preClose_, upper_, lower_, preOpenInterest_, multiplier_};
    }

    // Moves one step and returns the record, stamped with `now`.
    CThostFtdcDepthMarketDataField Next(const mdtools::LocalStamp& now);

private:
    void Step();
    int Uniform(int lo, int hi);
    void FillBook(CThostFtdcDepthMarketDataField& d);

    InstrumentInfo instrument_;
    std::string tradingDay_;
    std::mt19937_64 rng_;
    long long tick_ = 1;        // hundredths
    long long preSettle_ = 0;   // hundredths
    long long preClose_ = 0;
    long long upper_ = 0;
    long long lower_ = 0;
    long long last_ = 0;
    long long open_ = 0;
    long long high_ = 0;
    long long low_ = 0;
    int multiplier_ = 10;
    int volume_ = 0;
    double turnover_ = 0;
    long long preOpenInterest_ = 0;
    long long openInterest_ = 0;
    bool started_ = false;
};

} // namespace mdfront
