#include "Quantities.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace mdrelay {

namespace {

constexpr std::int64_t Second = 1'000'000'000;

struct Unit {
    const char* suffix;
    double scale;
};

// A number followed by one of units (or by nothing when plain > 0).
bool ParseScaled(const std::string& text, const Unit* units, int count, double plain, double& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    const std::string suffix(end);
    if (end == text.c_str() || !std::isfinite(v) || v < 0)
        return false;
    if (suffix.empty() && plain > 0) {
        out = v * plain;
        return true;
    }
    for (int i = 0; i < count; ++i)
        if (suffix == units[i].suffix) {
            out = v * units[i].scale;
            return true;
        }
    return false;
}

bool Fits(double v)
{
    return v < 9.2e18;
}

} // namespace

bool ParseDuration(const std::string& text, std::int64_t& ns)
{
    static const Unit units[] = {{"ms", 1e6}, {"s", 1e9}, {"m", 60e9}, {"h", 3600e9}, {"d", 86400e9}};
    double v;
    if (!ParseScaled(text, units, 5, 1e9, v) || !Fits(v))
        return false;
    ns = static_cast<std::int64_t>(std::llround(v));
    return true;
}

bool ParseSize(const std::string& text, std::int64_t& bytes)
{
    static const Unit units[] = {
        {"K", 1024.0}, {"M", 1048576.0}, {"G", 1073741824.0}, {"T", 1099511627776.0}};
    double v;
    if (!ParseScaled(text, units, 4, 1, v) || !Fits(v))
        return false;
    bytes = static_cast<std::int64_t>(std::llround(v));
    return true;
}

bool ParseTime(const std::string& text, std::int64_t nowNs, std::int64_t& ns)
{
    std::int64_t ago;
    if (ParseDuration(text, ago)) {
        ns = nowNs - ago;
        return true;
    }
    std::tm tm{};
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 6 ||
        consumed != 19)
        return false;
    std::string rest = text.substr(19);
    const bool utc = !rest.empty() && rest.back() == 'Z';
    if (utc)
        rest.pop_back();
    double fraction = 0;
    if (!rest.empty()) {
        char* end = nullptr;
        fraction = std::strtod(rest.c_str(), &end);
        if (rest[0] != '.' || *end != '\0')
            return false;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    const std::time_t t = utc ? timegm(&tm) : std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return false;
    ns = static_cast<std::int64_t>(t) * Second + std::llround(fraction * 1e9);
    return true;
}

std::string DurationText(std::int64_t ns)
{
    static const Unit units[] = {{"d", 86400e9}, {"h", 3600e9}, {"m", 60e9}, {"s", 1e9}, {"ms", 1e6}};
    if (ns == 0)
        return "0";
    for (const Unit& u : units) {
        const auto scale = static_cast<std::int64_t>(u.scale);
        if (ns % scale == 0)
            return std::to_string(ns / scale) + u.suffix;
    }
    return std::to_string(ns) + "ns";
}

std::string SizeText(std::int64_t bytes)
{
    static const Unit units[] = {
        {"T", 1099511627776.0}, {"G", 1073741824.0}, {"M", 1048576.0}, {"K", 1024.0}};
    if (bytes <= 0)
        return "0";
    for (const Unit& u : units) {
        const auto scale = static_cast<std::int64_t>(u.scale);
        if (bytes % scale == 0)
            return std::to_string(bytes / scale) + u.suffix;
    }
    return std::to_string(bytes);
}

} // namespace mdrelay
