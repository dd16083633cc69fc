// Local stamps from a cached zone offset against the C library's own
// reading, across zone changes and offsets that are not whole hours.
#include "LocalClock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#ifndef _WIN32
#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#endif

namespace {

class ZoneScope {
public:
    explicit ZoneScope(const char* zone)
    {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        Set(zone);
    }
    ~ZoneScope() { had_ ? Set(old_.c_str()) : Unset(); }

private:
    static void Set(const char* zone)
    {
#ifdef _WIN32
        _putenv_s("TZ", zone);
        _tzset();
#else
        setenv("TZ", zone, 1);
        tzset();
#endif
    }
    static void Unset()
    {
#ifdef _WIN32
        _putenv_s("TZ", "");
        _tzset();
#else
        unsetenv("TZ");
        tzset();
#endif
    }
    bool had_ = false;
    std::string old_;
};

std::tm Library(std::time_t t)
{
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

// Zones in POSIX form, so that no zone database is needed.
const char* const Zones[] = {
    "UTC0",
    "EST5EDT,M3.2.0,M11.1.0",      // clocks go back into an hour already lived
    "NZST-12NZDT,M9.5.0,M4.1.0/3", // summer across the new year
    "IST-5:30",
    "NPT-5:45",
    "XYZ+3:15ABC,M3.5.0/1:45,M10.5.0/2:15", // changes at quarter hours
};

TEST(LocalClock, StampsAsTheLibraryDoesThroughEveryZoneChange)
{
    for (const char* zone : Zones) {
        ZoneScope scope(zone);
        kelvo::LocalClock clock;
        // Two years in steps that land on every minute of the quarter, plus
        // each minute of the days around the changes of 2026.
        std::vector<std::time_t> times;
        for (std::time_t t = 1767225600; t < 1767225600 + 2 * 366 * 86400; t += 7919)
            times.push_back(t);
        for (std::time_t day : {1772928000, 1793491200, 1775347200, 1790467200, 1774742400, 1792886400})
            for (std::time_t t = day - 86400; t < day + 86400; t += 60)
                times.push_back(t);
        for (std::time_t t : times) {
            const kelvo::LocalFields f = clock.Split(t);
            const std::tm tm = Library(t);
            ASSERT_EQ(f.year, tm.tm_year + 1900) << zone << " at " << t;
            ASSERT_EQ(f.month, tm.tm_mon + 1) << zone << " at " << t;
            ASSERT_EQ(f.day, tm.tm_mday) << zone << " at " << t;
            ASSERT_EQ(f.hour, tm.tm_hour) << zone << " at " << t;
            ASSERT_EQ(f.minute, tm.tm_min) << zone << " at " << t;
            ASSERT_EQ(f.second, tm.tm_sec) << zone << " at " << t;
        }
    }
}

TEST(LocalClock, SplitsTheCalendarAtItsEdges)
{
    struct Case {
        std::int64_t seconds;
        kelvo::LocalFields want;
    };
    const Case cases[] = {
        {0, {1970, 1, 1, 0, 0, 0}},
        {-1, {1969, 12, 31, 23, 59, 59}},
        {951782400, {2000, 2, 29, 0, 0, 0}},     // a leap day of a century
        {4107542399, {2100, 2, 28, 23, 59, 59}}, // and a century without one
        {4107542400, {2100, 3, 1, 0, 0, 0}},
        {1798761599, {2026, 12, 31, 23, 59, 59}},
    };
    for (const Case& c : cases) {
        const kelvo::LocalFields f = kelvo::SplitSeconds(c.seconds);
        EXPECT_EQ(f.year * 10000 + f.month * 100 + f.day,
                  c.want.year * 10000 + c.want.month * 100 + c.want.day)
            << c.seconds;
        EXPECT_EQ(f.hour * 3600 + f.minute * 60 + f.second,
                  c.want.hour * 3600 + c.want.minute * 60 + c.want.second)
            << c.seconds;
        EXPECT_EQ(kelvo::DaysFromCivil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day)) *
                          86400 +
                      f.hour * 3600 + f.minute * 60 + f.second,
                  c.seconds);
    }
}

#ifndef _WIN32
// A child forked while a parent's thread holds the zone lock inherits the
// lock held: a stamp that took it would never return.
TEST(LocalClock, AForkedChildStampsWhileTheParentsThreadsHoldTheZoneLock)
{
    kelvo::LocalClock clock;
    const std::time_t at = std::time(nullptr);
    clock.Split(at);
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop.load(std::memory_order_relaxed))
            Library(at);
    });
    int hung = 0;
    for (int i = 0; i < 40; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(2);
            const kelvo::LocalFields f = clock.Split(at);
            _exit(f.year > 2000 ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        hung += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    stop.store(true);
    busy.join();
    EXPECT_EQ(hung, 0);
}
#endif

} // namespace
