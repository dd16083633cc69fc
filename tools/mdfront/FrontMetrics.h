// mdfront's own figures for its metrics page (--metrics), read from the
// connections' records at each scrape: the front is a simulator, and a
// scrape copying each connection's counters under the recorder's lock
// costs its thread no more than a test reading them does.
#pragma once

#include "FrontServer.h"

#include "metrics/Exposition.h"

namespace mdfront {

// mdlink_front_connections, mdlink_front_connections_accepted_total,
// mdlink_front_records_sent_total, mdlink_front_sent_bytes_total and
// mdlink_front_faults_total{fault}.
void WriteFrontFigures(mdlink::metrics::ExpositionWriter& out, const FrontServer& front);

} // namespace mdfront
