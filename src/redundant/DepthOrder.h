// Which of two depth records of one instrument is the older: the one rule,
// header-only over the published record, for whoever needs it (the
// redundant client's arbitration, an exchange timestamp).
//
// A record is stamped with three members:
//   day     TradingDay as YYYYMMDD (ActionDay when TradingDay is not eight
//           digits; 0 when neither is)
//   time    UpdateTime "HH:MM:SS" plus UpdateMillisec, in ms of the day
//           (unknown when UpdateTime is not of that form)
//   volume  Volume, cumulative within a trading day
//
// Candidate against the last record delivered:
//   1. Both days known and different: the later day is newer.
//   2. Both times known and different: times are read on a 24-hour circle.
//      A time less than 12 hours after the last one is newer, one less than
//      12 hours before it is older. Night sessions run past midnight within
//      one trading day (23:59:59.500 -> 00:00:00.000 is half a second later).
//      What the circle needs is that a record's successor within one trading
//      day is less than 12 hours later on the clock's face, not in elapsed
//      time: a Friday night session and Monday's day session share one
//      TradingDay some 54 hours apart, yet the longest pause on the face,
//      from a night session's close (02:30 at the latest) to the day's open
//      (09:00), is 6.5 hours.
//   3. Otherwise the smaller volume is older, the larger newer.
//   4. Equal in all three: the same time. Such records are not older; two
//      different records stamped alike are both news.
#pragma once

#include "MdApi.h"

#include <cstdint>
#include <cstring>

namespace mdlink {

struct DepthStamp {
    std::uint32_t day = 0;    // YYYYMMDD, 0: unknown
    std::int32_t timeMs = -1; // ms of the day, -1: unknown
    std::int32_t volume = 0;
};

enum class DepthAge { Older, Same, Newer };

namespace depth_order {

constexpr std::int32_t DayMs = 24 * 60 * 60 * 1000;
constexpr std::int32_t HalfDayMs = DayMs / 2;

inline int Digit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

// Eight digits and a terminating zero: YYYYMMDD; else 0. Read eight bytes
// at once (this runs for every record).
inline std::uint32_t ReadDay(const char (&text)[9])
{
    std::uint64_t v;
    std::memcpy(&v, text, 8);
    const bool digits = (v & 0xF0F0F0F0F0F0F0F0ull) == 0x3030303030303030ull &&
        ((v + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) == 0x3030303030303030ull;
    if (!digits || text[8] != 0)
        return 0;
    // The first character is the lowest byte: pairs, then fours, then eight.
    v -= 0x3030303030303030ull;
    v = (v * 10) + (v >> 8);
    v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
         (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
        32;
    return static_cast<std::uint32_t>(v);
}

inline int TwoDigits(const char* p)
{
    const int hi = Digit(p[0]);
    const int lo = Digit(p[1]);
    return hi < 0 || lo < 0 ? -1 : hi * 10 + lo;
}

// "HH:MM:SS" and millis: ms of the day, -1 when the text is not a time.
inline std::int32_t ReadTimeMs(const char (&text)[9], int millis)
{
    if (text[2] != ':' || text[5] != ':')
        return -1;
    const int h = TwoDigits(text);
    const int m = TwoDigits(text + 3);
    const int s = TwoDigits(text + 6);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60)
        return -1;
    const int ms = millis >= 0 && millis <= 999 ? millis : 0;
    return ((h * 60 + m) * 60 + (s > 59 ? 59 : s)) * 1000 + ms;
}

} // namespace depth_order

inline DepthStamp StampOf(const CThostFtdcDepthMarketDataField& d)
{
    DepthStamp s;
    s.day = depth_order::ReadDay(d.TradingDay);
    if (s.day == 0)
        s.day = depth_order::ReadDay(d.ActionDay);
    s.timeMs = depth_order::ReadTimeMs(d.UpdateTime, d.UpdateMillisec);
    s.volume = d.Volume;
    return s;
}

// How the candidate stands against the last record delivered.
inline DepthAge CompareDepth(const DepthStamp& candidate, const DepthStamp& last)
{
    using namespace depth_order;
    if (candidate.day != 0 && last.day != 0 && candidate.day != last.day)
        return candidate.day < last.day ? DepthAge::Older : DepthAge::Newer;
    if (candidate.timeMs >= 0 && last.timeMs >= 0 && candidate.timeMs != last.timeMs) {
        const std::int32_t ahead = (candidate.timeMs - last.timeMs + DayMs) % DayMs;
        return ahead < HalfDayMs ? DepthAge::Newer : DepthAge::Older;
    }
    if (candidate.volume != last.volume)
        return candidate.volume < last.volume ? DepthAge::Older : DepthAge::Newer;
    return DepthAge::Same;
}

} // namespace mdlink
