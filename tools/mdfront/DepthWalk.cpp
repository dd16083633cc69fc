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
    {2, 400, 700, 1000},     {100, 3000, 6000, 10}, {20, 3500, 4500, 300},
    {1000, 60000, 80000, 5}, {100, 5000, 9000, 15},
};

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
        {"au", 0}, {"sc", 0}, {"rb", 1}, {"m", 1},  {"SR", 1}, {"IF", 2}, {"IC", 2},
        {"IH", 2}, {"cu", 3}, {"zn", 3}, {"ni", 3}, {"ag", 4}, {"CF", 4}};
    for (const auto& k : known)
        if (product == k.first)
            return k.second;
    return static_cast<std::size_t>(hash % (sizeof Profiles / sizeof Profiles[0]));
}

} // namespace

std::uint64_t HashText(const std::string& s)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

CThostFtdcDepthMarketDataField StampedDepth(const InstrumentInfo& instrument, const std::string& tradingDay,
                                            const mdtools::LocalStamp& at)
{
    CThostFtdcDepthMarketDataField d;
    std::memset(&d, 0, sizeof d);
    CopyText(d.TradingDay, sizeof d.TradingDay, tradingDay);
    CopyText(d.InstrumentID, sizeof d.InstrumentID, instrument.id);
    CopyText(d.ExchangeID, sizeof d.ExchangeID, instrument.exchange);
    CopyText(d.ExchangeInstID, sizeof d.ExchangeInstID, instrument.id);
    CopyText(d.ActionDay, sizeof d.ActionDay, at.date);
    CopyText(d.UpdateTime, sizeof d.UpdateTime, at.time);
    d.UpdateMillisec = at.millis;
    return d;
}

DepthWalk::DepthWalk(const InstrumentInfo& instrument, const std::string& tradingDay, std::uint64_t seed)
    : instrument_(instrument), tradingDay_(tradingDay), rng_(seed ^ HashText(instrument.id))
{
    const std::uint64_t h = HashText(instrument.id);
    const Profile& p = Profiles[ProfileOf(instrument.id, h)];
    const long long tick = p.tick;
    ref_.tick = tick;
    ref_.multiplier = p.multiplier;
    const long long span = p.highest - p.lowest;
    const long long base =
        (p.lowest + static_cast<long long>((h >> 8) % static_cast<std::uint64_t>(span))) * 100;
    ref_.preSettle = base / tick * tick;
    ref_.preClose = ref_.preSettle + tick * Uniform(-5, 5);
    ref_.upper = ref_.preSettle * 108 / 100 / tick * tick;
    ref_.lower = (ref_.preSettle * 92 / 100 + tick - 1) / tick * tick;
    last_ = ref_.preClose;
    ref_.preOpenInterest = Uniform(20000, 200000);
    openInterest_ = ref_.preOpenInterest;
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
        const long long move = r < 3 ? -ref_.tick : (r < 7 ? 0 : ref_.tick);
        last_ += move;
        if (last_ > ref_.upper)
            last_ = ref_.upper;
        if (last_ < ref_.lower)
            last_ = ref_.lower;
    }
    high_ = last_ > high_ ? last_ : high_;
    low_ = last_ < low_ ? last_ : low_;
    const int traded = Uniform(0, 20);
    volume_ += traded;
    turnover_ += static_cast<double>(traded) * Price(last_) * ref_.multiplier;
    openInterest_ += Uniform(-5, 5);
}

void DepthWalk::FillBook(CThostFtdcDepthMarketDataField& d)
{
    const long long bid1 = Uniform(0, 1) == 0 ? last_ : last_ - ref_.tick;
    FillLevels(d, bid1, ref_.tick, [&](int& bid, int& ask) {
        bid = Uniform(1, 300);
        ask = Uniform(1, 300);
    });
}

CThostFtdcDepthMarketDataField DepthWalk::Next(const mdtools::LocalStamp& now)
{
    Step();
    CThostFtdcDepthMarketDataField d = StampedDepth(instrument_, tradingDay_, now);
    d.LastPrice = Price(last_);
    d.PreSettlementPrice = Price(ref_.preSettle);
    d.PreClosePrice = Price(ref_.preClose);
    d.PreOpenInterest = static_cast<double>(ref_.preOpenInterest);
    d.OpenPrice = Price(open_);
    d.HighestPrice = Price(high_);
    d.LowestPrice = Price(low_);
    d.Volume = volume_;
    d.Turnover = turnover_;
    d.OpenInterest = static_cast<double>(openInterest_);
    d.UpperLimitPrice = Price(ref_.upper);
    d.LowerLimitPrice = Price(ref_.lower);
    if (volume_ > 0)
        d.AveragePrice = std::round(turnover_ / volume_ / ref_.multiplier * 1000.0) / 1000.0;
    FillBook(d);
    return d;
}

} // namespace mdfront
