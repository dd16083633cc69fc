// mdcap's command line: a command word, then its files and flags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mdcap {

// A time given as --from/--to: a time of day (on the file's trading day)
// or a full date and time; local time unless it ends in Z.
struct TimeArg {
    bool given = false;
    bool ofDay = false; // HH:MM:SS[.fff]: the date comes from the trading day
    bool utc = false;   // ended in Z
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::int64_t nanos = 0; // the fraction of the second
};

// "HH:MM:SS[.f...]" or "YYYY-MM-DDTHH:MM:SS[.f...][Z]" (a space may stand for the T).
bool ParseTimeArg(const std::string& text, TimeArg& out);

// Nanoseconds since the epoch of the time, a time of day taken on tradingDay
// (YYYYMMDD); false when it needs a trading day and there is none.
bool ResolveTime(const TimeArg& time, const std::string& tradingDay, std::int64_t& ns);

struct CapOptions {
    std::string command; // info, cat, verify, cut, merge
    std::vector<std::string> files;
    bool csv = false;
    TimeArg from, to; // records at from or later, and before to
    std::vector<std::string> instruments;
    std::string output;
    bool help = false;
};

// Parses the arguments after the program name; false with a message.
bool ParseCapOptions(const std::vector<std::string>& args, CapOptions& out, std::string& error);

std::string CapUsage();

} // namespace mdcap
