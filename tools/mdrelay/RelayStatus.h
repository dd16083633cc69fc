// The relay's counters, as printed once per status interval and at exit:
//   mdrelay: received=N published=N acknowledged=N duplicates=N dropped=N
//            refused=N reconnections=N retried=N queued=N in-flight=N
// on one line, each a key=value pair that scripts can pick out.
#pragma once

#include "Publisher.h"

#include <cstdint>
#include <string>

namespace mdrelay {

struct RelayStatus {
    std::uint64_t received = 0;
    std::uint64_t dropped = 0;
    std::size_t queued = 0;
    std::uint64_t reconnections = 0;
    PublisherCounters publisher;
};

std::string StatusLine(const RelayStatus& s);

} // namespace mdrelay
