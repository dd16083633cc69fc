// The yardstick: the NATS client library alone publishing 408-byte depth
// records asynchronously into JetStream, each with a message id made as the
// relay makes it, as fast as the stream acknowledges them.
#pragma once

#include <string>

namespace benchrelay {

struct BareFigures {
    double rate = 0;           // records acknowledged a second; 0 when publishing failed
    double cpuUsPerRecord = 0; // this process's CPU time (all its threads) per record
};

// Publishes `records` with at most maxPending awaiting acknowledgement; at
// `pace` records a second when given, else as fast as the stream takes them.
BareFigures BarePublish(const std::string& urls, long records, int maxPending, double pace = 0);

} // namespace benchrelay
