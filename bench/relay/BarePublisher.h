// The yardstick: the NATS client library alone publishing 408-byte depth
// records asynchronously into JetStream, each with a message id made as the
// relay makes it, as fast as the stream acknowledges them.
#pragma once

#include <string>

namespace benchrelay {

// Records acknowledged per second, publishing `records` with at most
// maxPending awaiting acknowledgement; 0 when publishing failed.
double BarePublishRate(const std::string& urls, long records, int maxPending);

} // namespace benchrelay
