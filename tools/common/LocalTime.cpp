#include "LocalTime.h"

#include "LocalClock.h"

#include <cstdio>
#include <ctime>

namespace mdtools {

namespace {

// A front stamps every record: the cached offset keeps the zone lock off
// that path, and out of a child forked beside it.
kelvo::LocalClock g_clock;

} // namespace

LocalStamp ToLocalStamp(std::chrono::system_clock::time_point tp)
{
    using namespace std::chrono;
    const long long us = duration_cast<microseconds>(tp.time_since_epoch()).count();
    const kelvo::LocalFields tm = g_clock.Split(static_cast<std::time_t>(us / 1000000));
    char date[48]; // room for any int, so the compiler sees no truncation
    char time[48];
    std::snprintf(date, sizeof date, "%04d%02d%02d", tm.year, tm.month, tm.day);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", tm.hour, tm.minute, tm.second);
    LocalStamp s;
    s.date = date;
    s.time = time;
    s.millis = static_cast<int>((us / 1000) % 1000);
    s.micros_since_epoch = us;
    return s;
}

std::string MicrosTimeOfDay(long long micros_since_epoch)
{
    const kelvo::LocalFields tm = g_clock.Split(static_cast<std::time_t>(micros_since_epoch / 1000000));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%06lld", tm.hour, tm.minute, tm.second,
                  micros_since_epoch % 1000000);
    return buf;
}

} // namespace mdtools
