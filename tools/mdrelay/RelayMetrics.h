// mdrelay's own figures for its metrics page (--metrics). Every one is read
// without a lock the relay's threads wait on: the queue's and the
// publisher's copies kept for this, the bus link's atomics.
#pragma once

#include "NatsLink.h"
#include "Publisher.h"
#include "RecordQueue.h"

#include "metrics/Exposition.h"

namespace mdrelay {

void WriteRelayFigures(mdlink::metrics::ExpositionWriter& out, const RecordQueue& queue,
                       const Publisher& publisher, const NatsLink& link);

} // namespace mdrelay
