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

// What both generators share: an id's hash (FNV-1a), a price from
// hundredths, a record holding only the instrument and its stamp, and the
// five levels of the book around bid1, their volumes drawn by
// volumes(bid, ask) level by level.
std::uint64_t HashText(const std::string& s);
inline double Price(long long hundredths)
{
    return static_cast<double>(hundredths) / 100.0;
}
CThostFtdcDepthMarketDataField StampedDepth(const InstrumentInfo& instrument, const std::string& tradingDay,
                                            const mdtools::LocalStamp& at);
template <class Volumes>
void FillLevels(CThostFtdcDepthMarketDataField& d, long long bid1, long long tick, Volumes volumes)
{
    double* bidPrice[] = {&d.BidPrice1, &d.BidPrice2, &d.BidPrice3, &d.BidPrice4, &d.BidPrice5};
    double* askPrice[] = {&d.AskPrice1, &d.AskPrice2, &d.AskPrice3, &d.AskPrice4, &d.AskPrice5};
    int* bidVolume[] = {&d.BidVolume1, &d.BidVolume2, &d.BidVolume3, &d.BidVolume4, &d.BidVolume5};
    int* askVolume[] = {&d.AskVolume1, &d.AskVolume2, &d.AskVolume3, &d.AskVolume4, &d.AskVolume5};
    for (int level = 0; level < 5; ++level) {
        *bidPrice[level] = Price(bid1 - tick * level);
        *askPrice[level] = Price(bid1 + tick * (level + 1));
        volumes(*bidVolume[level], *askVolume[level]);
    }
}

class DepthWalk {
public:
    DepthWalk(const InstrumentInfo& instrument, const std::string& tradingDay, std::uint64_t seed);

    const WalkProfile& Reference() const { return ref_; }

    // Moves one step and returns the record, stamped with `now`.
    CThostFtdcDepthMarketDataField Next(const mdtools::LocalStamp& now);

private:
    void Step();
    int Uniform(int lo, int hi);
    void FillBook(CThostFtdcDepthMarketDataField& d);

    InstrumentInfo instrument_;
    std::string tradingDay_;
    std::mt19937_64 rng_;
    WalkProfile ref_;
    long long last_ = 0; // hundredths, as all prices
    long long open_ = 0;
    long long high_ = 0;
    long long low_ = 0;
    int volume_ = 0;
    double turnover_ = 0;
    long long openInterest_ = 0;
    bool started_ = false;
};

} // namespace mdfront
