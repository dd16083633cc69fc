#include "SharedFeed.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace mdfront {

namespace {

constexpr double Pi = 3.14159265358979323846;

std::uint64_t Mix(std::uint64_t x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

long long MicrosOf(SlotClock::TimePoint t)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

} // namespace

long long SlotClock::StartMicros(std::int64_t slot) const
{
    return std::llround(static_cast<double>(slot) * (1e6 / rate_));
}

std::int64_t SlotClock::SlotAt(TimePoint t) const
{
    const long long us = MicrosOf(t);
    std::int64_t slot = static_cast<std::int64_t>(std::floor(static_cast<double>(us) / (1e6 / rate_)));
    while (StartMicros(slot + 1) <= us)
        ++slot;
    while (StartMicros(slot) > us)
        --slot;
    return slot;
}

SlotClock::TimePoint SlotClock::StartOf(std::int64_t slot) const
{
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::microseconds(StartMicros(slot))));
}

int SlotClock::NumberInDay(std::int64_t slot) const
{
    const mdtools::LocalStamp s = mdtools::ToLocalStamp(StartOf(slot));
    const int h = std::atoi(s.time.substr(0, 2).c_str());
    const int m = std::atoi(s.time.substr(3, 2).c_str());
    const int sec = std::atoi(s.time.substr(6, 2).c_str());
    const long long us = ((h * 60LL + m) * 60 + sec) * 1000000 + s.micros_since_epoch % 1000000;
    return static_cast<int>(std::llround(static_cast<double>(us) * rate_ / 1e6));
}

SlotFeed::SlotFeed(const InstrumentInfo& instrument, const std::string& tradingDay, std::uint64_t seed)
    : instrument_(instrument), tradingDay_(tradingDay), seed_(seed), idHash_(HashText(instrument.id)),
      profile_(DepthWalk(instrument, tradingDay, seed).Reference())
{}

// The price is two slow waves and a tick of noise around the pre-close, so
// that it wanders like a walk but needs no history.
CThostFtdcDepthMarketDataField SlotFeed::At(std::int64_t slot, const SlotClock& clock) const
{
    const WalkProfile& p = profile_;
    const std::uint64_t h = Mix(seed_ ^ Mix(idHash_ ^ static_cast<std::uint64_t>(slot)));
    const double k = static_cast<double>(slot);
    const double wave = 20 * std::sin(2 * Pi * k / 600 + static_cast<double>(idHash_ % 6283) / 1000) +
        6 * std::sin(2 * Pi * k / 97 + static_cast<double>((idHash_ >> 16) % 6283) / 1000);
    long long last = p.preClose + p.tick * (std::llround(wave) + static_cast<long long>(h % 3) - 1);
    last = std::min(p.upper, std::max(p.lower, last));
    const long long high =
        std::min(p.upper, std::max(p.preClose, last) + p.tick * static_cast<long long>((h >> 8) % 3));
    const long long low =
        std::max(p.lower, std::min(p.preClose, last) - p.tick * static_cast<long long>((h >> 12) % 3));

    const mdtools::LocalStamp at = mdtools::ToLocalStamp(clock.StartOf(slot));
    CThostFtdcDepthMarketDataField d = StampedDepth(instrument_, tradingDay_, at);
    d.Volume = clock.NumberInDay(slot);
    d.LastPrice = Price(last);
    d.PreSettlementPrice = Price(p.preSettle);
    d.PreClosePrice = Price(p.preClose);
    d.PreOpenInterest = static_cast<double>(p.preOpenInterest);
    d.OpenPrice = Price(p.preClose);
    d.HighestPrice = Price(high);
    d.LowestPrice = Price(low);
    d.Turnover = static_cast<double>(d.Volume) * Price(last) * p.multiplier;
    d.OpenInterest = static_cast<double>(p.preOpenInterest + static_cast<long long>((h >> 20) % 1001) - 500);
    d.UpperLimitPrice = Price(p.upper);
    d.LowerLimitPrice = Price(p.lower);
    d.AveragePrice = Price(last);
    const long long bid1 = ((h >> 32) & 1) ? last : last - p.tick;
    std::uint64_t v = Mix(h);
    FillLevels(d, bid1, p.tick, [&](int& bid, int& ask) {
        bid = 1 + static_cast<int>(v % 300);
        ask = 1 + static_cast<int>((v >> 9) % 300);
        v = Mix(v);
    });
    return d;
}

SharedNotice SharedNoticeAt(std::chrono::system_clock::time_point t, std::chrono::milliseconds every)
{
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    SharedNotice n;
    n.period = ms / every.count();
    n.sysId = std::to_string(n.period);
    n.at = mdtools::ToLocalStamp(std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(every * n.period)));
    return n;
}

} // namespace mdfront
