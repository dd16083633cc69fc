// Wall-clock stamps in local time, for record time stamps and display only;
// nothing here is used to measure intervals.
#pragma once

#include <chrono>
#include <string>

namespace mdtools {

struct LocalStamp {
    std::string date; // YYYYMMDD
    std::string time; // HH:MM:SS
    int millis = 0;
    long long micros_since_epoch = 0;
};

LocalStamp ToLocalStamp(std::chrono::system_clock::time_point tp);

inline LocalStamp NowLocal()
{
    return ToLocalStamp(std::chrono::system_clock::now());
}

inline long long NowMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// HH:MM:SS.uuuuuu of a microsecond stamp since the epoch, in local time.
std::string MicrosTimeOfDay(long long micros_since_epoch);

} // namespace mdtools
