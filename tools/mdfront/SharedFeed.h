// The same feed from every front started with the same seed (--shared-feed),
// so that an application can take it over two links at once.
//
// Time is cut into slots of 1/rate seconds since the epoch. The record of
// an instrument for a slot depends on the seed, the instrument and the slot
// alone: two fronts, in two processes, restarted or not, serve records that
// are identical byte for byte per instrument and slot. Each carries its
// slot's number within the local day in Volume (so numbers run on while the
// day does, and count up by one from slot to slot), and the slot's start
// in UpdateTime and UpdateMillisec.
#pragma once

#include "DepthWalk.h"
#include "FrontConfig.h"
#include "LocalTime.h"
#include "MdApi.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace mdfront {

class SlotClock {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    // rate: slots per second, > 0.
    explicit SlotClock(double rate) : rate_(rate) {}

    // The slot that holds `t`.
    std::int64_t SlotAt(TimePoint t) const;
    TimePoint StartOf(std::int64_t slot) const;
    // Its number within the local day of its start.
    int NumberInDay(std::int64_t slot) const;
    double Rate() const { return rate_; }

private:
    long long StartMicros(std::int64_t slot) const;

    double rate_;
};

class SlotFeed {
public:
    SlotFeed(const InstrumentInfo& instrument, const std::string& tradingDay, std::uint64_t seed);

    CThostFtdcDepthMarketDataField At(std::int64_t slot, const SlotClock& clock) const;

private:
    InstrumentInfo instrument_;
    std::string tradingDay_;
    std::uint64_t seed_;
    std::uint64_t idHash_;
    WalkProfile profile_;
};

// For-quote notices of the shared feed: one per instrument and period, the
// period's index since the epoch as ForQuoteSysID, stamped with its start.
struct SharedNotice {
    std::int64_t period = 0;
    std::string sysId;
    mdtools::LocalStamp at;
};
SharedNotice SharedNoticeAt(std::chrono::system_clock::time_point t, std::chrono::milliseconds every);

} // namespace mdfront
