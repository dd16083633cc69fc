#include "DepthWalk.h"

#include "FrameBuilder.h"

#include <cmath>
#include <cstring>

namespace mdfront {

namespace {

struct Profile {
    long long tick;   // hundredths
    long long lowest; // whole price units
    long long highest;
    int multiplier;
};

// A handful of price scales, so a ticker of several instruments looks varied.
const Profile Profiles[] = {
    {2, 400, 700, 1000}, {100, 3000, 6000, 10}, {20, 3500, 4500, 300},
    {1000, 60000, 80000, 5}, {100, 5000, 9000, 15},
};

std::uint64_t HashText(const std::string& s)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Products whose usual scale is known; any other id gets one by its hash.
std::size_t ProfileOf(const std::string& id, std::uint64_t hash)
{
    std::string product;
    for (char c : id) {
        if (c >= '0' && c <= '9')
            break;
        product += c;
    }
    static const std::pair<const char*, std::size_t> known[] = {
        {"au", 0}, {"sc", 0}, {"rb", 1}, {"m", 1}, {"SR", 1}, {"IF", 2}, {"IC", 2}, {"IH", 2},
        {"cu", 3}, {"zn", 3}, {"ni", 3}, {"ag", 4}, {"CF", 4}};
    for (const auto& k : known)
        if (product == k.first)
            return k.second;
    return static_cast<std::size_t>(hash % (sizeof Profiles / sizeof Profiles[0]));
}

double Price(long long hundredths)
{
    return static_cast<double>(hundredths) / 100.0;
}

} // namespace

DepthWalk::DepthWalk(const InstrumentInfo& instrument, const std::string& tradingDay,
                     std::uint64_t seed)
    : instrument_(instrument), tradingDay_(tradingDay), rng_(seed ^ HashText(instrument.id))
{
    const std::uint64_t h = HashText(instrument.id);
    const Profile& p = Profiles[ProfileOf(instrument.id, h)];
    tick_ = p.tick;
    multiplier_ = p.multiplier;
    const long long span = p.highest - p.lowest;
    const long long base = (p.lowest + static_cast<long long>((h >> 8) % static_cast<std::uint64_t>(span))) * 100;
    preSettle_ = base / tick_ * tick_;
    preClose_ = preSettle_ + tick_ * Uniform(-5, 5);
    upper_ = preSettle_ * 108 / 100 / tick_ * tick_;
    lower_ = (preSettle_ * 92 / 100 + tick_ - 1) / tick_ * tick_;
    last_ = preClose_;
    preOpenInterest_ = Uniform(20000, 200000);
    openInterest_ = preOpenInterest_;
}

int DepthWalk::Uniform(int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
}

void DepthWalk::Step()
{
    if (!started_) {
        started_ = true;
        open_ = high_ = low_ = last_;
    } else {
        const int r = Uniform(0, 9);
        const long long move = r < 3 ? -tick_ : (r < 7 ? 0 : tick_);
        last_ += move;
        if (last_ > upper_)
            last_ = upper_;
        if (last_ < lower_)
            last_ = lower_;
    }
    high_ = last_ > high_ ? last_ : high_;
    low_ = last_ < low_ ? last_ : low_;
    const int traded = Uniform(0, 20);
    volume_ += traded;
    turnover_ += static_cast<double>(traded) * Price(last_) * multiplier_;
    openInterest_ += Uniform(-5, 5);
}

void DepthWalk::FillBook(CThostFtdcDepthMarketDataField& d)
{
    const long long bid1 = Uniform(0, 1) == 0 ? last_ : last_ - tick_;
    double* bidPrice[] = {&d.BidPrice1, &d.BidPrice2, &d.BidPrice3, &d.BidPrice4, &d.BidPrice5};
    double* askPrice[] = {&d.AskPrice1, &d.AskPrice2, &d.AskPrice3, &d.AskPrice4, &d.AskPrice5};
    int* bidVolume[] = {&d.BidVolume1, &d.BidVolume2, &d.BidVolume3, &d.BidVolume4, &d.BidVolume5};
    int* askVolume[] = {&d.AskVolume1, &d.AskVolume2, &d.AskVolume3, &d.AskVolume4, &d.AskVolume5};
    for (int level = 0; level < 5; ++level) {
        *bidPrice[level] = Price(bid1 - tick_ * level);
        *askPrice[level] = Price(bid1 + tick_ * (level + 1));
        *bidVolume[level] = Uniform(1, 300);
        *askVolume[level] = Uniform(1, 300);
    }
}

CThostFtdcDepthMarketDataField DepthWalk::Next(const mdtools::LocalStamp& now)
{
    Step();
    CThostFtdcDepthMarketDataField d;
    std::memset(&d, 0, sizeof d);
    CopyText(d.TradingDay, sizeof d.TradingDay, tradingDay_);
    CopyText(d.InstrumentID, sizeof d.InstrumentID, instrument_.id);
    CopyText(d.ExchangeID, sizeof d.ExchangeID, instrument_.exchange);
    CopyText(d.ExchangeInstID, sizeof d.ExchangeInstID, instrument_.id);
    CopyText(d.ActionDay, sizeof d.ActionDay, now.date);
    CopyText(d.UpdateTime, sizeof d.UpdateTime, now.time);
    d.UpdateMillisec = now.millis;
    d.LastPrice = Price(last_);
    d.PreSettlementPrice = Price(preSettle_);
    d.PreClosePrice = Price(preClose_);
    d.PreOpenInterest = static_cast<double>(preOpenInterest_);
    d.OpenPrice = Price(open_);
    d.HighestPrice = Price(high_);
    d.LowestPrice = Price(low_);
    d.Volume = volume_;
    d.Turnover = turnover_;
    d.OpenInterest = static_cast<double>(openInterest_);
    d.UpperLimitPrice = Price(upper_);
    d.LowerLimitPrice = Price(lower_);
    if (volume_ > 0)
        d.AveragePrice = std::round(turnover_ / volume_ / multiplier_ * 1000.0) / 1000.0;
    FillBook(d);
    return d;
}

} // namespace mdfront
