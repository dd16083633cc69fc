#include "LocalTime.h"

#include <cstdio>
#include <ctime>

namespace mdtools {

namespace {

std::tm LocalTm(std::time_t t)
{
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

} // namespace

LocalStamp ToLocalStamp(std::chrono::system_clock::time_point tp)
{
    using namespace std::chrono;
    const long long us = duration_cast<microseconds>(tp.time_since_epoch()).count();
    const std::tm tm = LocalTm(static_cast<std::time_t>(us / 1000000));
    char date[48]; // room for any int, so the compiler sees no truncation
    char time[48];
    std::snprintf(date, sizeof date, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    LocalStamp s;
    s.date = date;
    s.time = time;
    s.millis = static_cast<int>((us / 1000) % 1000);
    s.micros_since_epoch = us;
    return s;
}

std::string MicrosTimeOfDay(long long micros_since_epoch)
{
    const std::tm tm = LocalTm(static_cast<std::time_t>(micros_since_epoch / 1000000));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%06lld", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  micros_since_epoch % 1000000);
    return buf;
}

} // namespace mdtools
