#include "metrics/FeedLag.h"

#include "LocalClock.h"

#include <chrono>
#include <cstring>

namespace mdlink {
namespace metrics {
namespace {

std::atomic<bool> g_zoneSet{false};
std::atomic<std::int64_t> g_zoneOffset{0};
kelvo::LocalClock g_localClock;

int Digits2(const char* p)
{
    if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9')
        return -1;
    return (p[0] - '0') * 10 + (p[1] - '0');
}

} // namespace

std::int64_t LagMicros(const char* updateTime, int updateMillisec, std::int64_t receivedMicros)
{
    // Read in order, so that a short text is never read past its end.
    const int h = Digits2(updateTime);
    if (h < 0 || h > 23 || updateTime[2] != ':')
        return -1;
    const int m = Digits2(updateTime + 3);
    if (m < 0 || m > 59 || updateTime[5] != ':')
        return -1;
    const int s = Digits2(updateTime + 6);
    if (s < 0 || s > 60 || updateMillisec < 0 || updateMillisec > 999)
        return -1;
    const std::int64_t stamped = ((h * 3600LL + m * 60 + s) * 1000 + updateMillisec) * 1000;
    std::int64_t lag = (receivedMicros - stamped) % DayMicros;
    if (lag < 0)
        lag += DayMicros;
    return lag > DayMicros / 2 ? 0 : lag;
}

void SetExchangeZone(std::int64_t offsetSeconds)
{
    g_zoneOffset.store(offsetSeconds, std::memory_order_relaxed);
    g_zoneSet.store(true, std::memory_order_release);
}

bool ParseZoneOffset(const char* text, std::int64_t& offsetSeconds)
{
    if (std::strcmp(text, "UTC") == 0 || std::strcmp(text, "Z") == 0) {
        offsetSeconds = 0;
        return true;
    }
    if (text[0] != '+' && text[0] != '-')
        return false;
    int hours = 0;
    int minutes = 0;
    const char* p = text + 1;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 2) {
        hours = hours * 10 + (*p++ - '0');
        ++digits;
    }
    if (digits == 0)
        return false;
    if (*p == ':') {
        minutes = Digits2(p + 1);
        if (minutes < 0 || minutes > 59)
            return false;
        p += 3;
    }
    if (*p != '\0' || hours > 14)
        return false;
    offsetSeconds = (text[0] == '-' ? -1 : 1) * (hours * 3600LL + minutes * 60);
    return true;
}

void FeedLag::Time(const char* exchange, const char* updateTime, int updateMillisec)
{
    wanted_.store(false, std::memory_order_relaxed);
    const std::int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const std::int64_t seconds = now / 1000000;
    const std::int64_t offset = g_zoneSet.load(std::memory_order_acquire)
        ? g_zoneOffset.load(std::memory_order_relaxed)
        : g_localClock.Offset(seconds);
    std::int64_t ofDay = (now + offset * 1000000) % DayMicros;
    if (ofDay < 0)
        ofDay += DayMicros;
    const std::int64_t lag = LagMicros(updateTime, updateMillisec, ofDay);
    if (lag >= 0)
        Count(exchange, lag);
}

void FeedLag::Count(const char* exchange, std::int64_t lagMicros)
{
    // ExchangeID holds 8 characters and its terminator.
    char name[sizeof(Exchange::name)] = {};
    for (int i = 0; i < 8 && exchange[i] != '\0'; ++i)
        name[i] = exchange[i];
    const int n = count_.load(std::memory_order_relaxed);
    int at = 0;
    while (at < n && std::strcmp(exchanges_[at].name, name) != 0)
        ++at;
    if (at == n) {
        if (n == MaxExchanges) {
            at = n - 1; // more exchanges than room: the last one's series takes them
        } else {
            std::memcpy(exchanges_[n].name, name, sizeof name);
            count_.store(n + 1, std::memory_order_release);
        }
    }
    Exchange& e = exchanges_[at];
    int bucket = 0;
    while (bucket < FeedLagBuckets - 1 && lagMicros > FeedLagBoundsSeconds[bucket] * 1e6)
        ++bucket;
    e.buckets[bucket].Add();
    e.sumMicros.Add(static_cast<std::uint64_t>(lagMicros));
}

} // namespace metrics
} // namespace mdlink
