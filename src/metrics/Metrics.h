// Turning the metrics page on: MDLINK_METRICS=[HOST]:PORT, read once, when
// the process makes its first client (the exported factory calls
// StartFromEnvironment each time; only the first call looks). Unset or
// empty: no socket and no thread. What goes wrong is told to the client's
// log and never fails the client.
#pragma once

#include <functional>

namespace mdlink {
namespace metrics {

inline constexpr char MetricsVariable[] = "MDLINK_METRICS";
// The exchanges' zone for the feed lag ("+08:00"); unset: the machine's.
inline constexpr char ZoneVariable[] = "MDLINK_METRICS_ZONE";
// Seconds without a record that make a subscribed instrument stale.
inline constexpr char StaleVariable[] = "MDLINK_METRICS_STALE";

// level: the log levels of log/LogRecord.h.
using LogSink = std::function<void(int level, const char* text)>;
void StartFromEnvironment(const LogSink& log);

} // namespace metrics
} // namespace mdlink
