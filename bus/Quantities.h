// The durations, sizes and times mdrelay's flags take, as text.
//   durations  a number and a unit: "500ms", "90s", "10m", "24h", "7d";
//              a plain number is seconds
//   sizes      a number of bytes, or with K, M, G or T (powers of 1024)
//   times      "YYYY-MM-DDTHH:MM:SS[.fff]" (local time; a trailing "Z": UTC),
//              or a duration: that long ago
#pragma once

#include <cstdint>
#include <string>

namespace mdrelay {

bool ParseDuration(const std::string& text, std::int64_t& ns);
bool ParseSize(const std::string& text, std::int64_t& bytes);
// Nanoseconds since the epoch; nowNs is the time "ago" counts back from.
bool ParseTime(const std::string& text, std::int64_t nowNs, std::int64_t& ns);

// "90s", "10m", "24h", as short as exact; "0" for none.
std::string DurationText(std::int64_t ns);
// "512M", "10G", ... when exact, else bytes; "0" for none.
std::string SizeText(std::int64_t bytes);

} // namespace mdrelay
