// Local wall-clock time from the UTC clock and a zone offset looked up once
// per quarter hour. localtime_r takes the C library's zone lock, which a
// forked child inherits as it was: a parent's thread inside localtime_r at
// the fork leaves the child hung in its first stamp. With the offset cached,
// stamps take no lock, and a child rarely needs a lookup of its own.
// Zone changes fall on quarter hours, so a cached offset is never stale
// within its quarter. Header only: the base library's log and the tools
// stamp with it.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

namespace kelvo {

struct LocalFields {
    int year, month, day, hour, minute, second;
};

// Days since 1970-01-01 of a proleptic Gregorian date.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The calendar fields of a count of seconds since 1970-01-01 00:00, read as
// they are (no zone).
constexpr LocalFields SplitSeconds(std::int64_t seconds)
{
    std::int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const std::int64_t rest = seconds - days * 86400;
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    return {static_cast<int>(y),
            static_cast<int>(m),
            static_cast<int>(d),
            static_cast<int>(rest / 3600),
            static_cast<int>(rest % 3600 / 60),
            static_cast<int>(rest % 60)};
}

// The zone's offset from UTC at t, in seconds, as the C library reads it.
inline std::int64_t LookUpZoneOffset(std::time_t t)
{
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    const std::int64_t days = DaysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                                            static_cast<unsigned>(tm.tm_mday));
    const std::int64_t local = days * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    return local - static_cast<std::int64_t>(t);
}

class LocalClock {
public:
    static constexpr std::int64_t QuarterSeconds = 900;

    LocalFields Split(std::time_t t)
    {
        const std::int64_t seconds = static_cast<std::int64_t>(t);
        return SplitSeconds(seconds + Offset(seconds));
    }

    // The offset at t: from the cache when t falls in the quarter it was
    // looked up for.
    std::int64_t Offset(std::int64_t seconds)
    {
        const std::int64_t quarter = Floor(seconds);
        std::uint64_t packed = cache_.load(std::memory_order_relaxed);
        if (packed == 0 || static_cast<std::int64_t>(packed >> OffsetBits) != quarter) {
            const std::int64_t offset = LookUpZoneOffset(static_cast<std::time_t>(seconds));
            if (offset <= -OffsetBias || offset >= OffsetBias || quarter < 0)
                return offset; // outside what one word holds: not cached
            packed = static_cast<std::uint64_t>(quarter) << OffsetBits |
                static_cast<std::uint64_t>(offset + OffsetBias);
            cache_.store(packed, std::memory_order_relaxed);
        }
        return static_cast<std::int64_t>(packed & ((std::uint64_t(1) << OffsetBits) - 1)) - OffsetBias;
    }

private:
    // The quarter's number and the offset share one word, so that a reader
    // on another thread never pairs one quarter with another's offset.
    static constexpr int OffsetBits = 24;
    static constexpr std::int64_t OffsetBias = std::int64_t(1) << 23;

    static std::int64_t Floor(std::int64_t seconds)
    {
        return seconds >= 0 ? seconds / QuarterSeconds : -((-seconds + QuarterSeconds - 1) / QuarterSeconds);
    }

    std::atomic<std::uint64_t> cache_{0};
};

} // namespace kelvo
