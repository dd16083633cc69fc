#include "RelayMetrics.h"

namespace mdrelay {

void WriteRelayFigures(mdlink::metrics::ExpositionWriter& out, const RecordQueue& queue,
                       const Publisher& publisher, const NatsLink& link)
{
    const RecordQueue::Figures q = queue.Peek();
    const PublisherCounters p = publisher.Totals();
    struct Figure {
        const char* name;
        const char* type;
        const char* help;
        std::uint64_t value;
    };
    const Figure figures[] = {
        {"mdlink_relay_queue_depth", "gauge", "Records waiting in the queue to be published.", q.size},
        {"mdlink_relay_received_total", "counter", "Records the library delivered to the relay.", q.received},
        {"mdlink_relay_dropped_total", "counter", "Records dropped from the full queue, oldest first.",
         q.dropped},
        {"mdlink_relay_published_total", "counter", "Records sent to the stream the first time.",
         p.published},
        {"mdlink_relay_acknowledged_total", "counter", "Records the stream acknowledged.", p.acknowledged},
        {"mdlink_relay_refused_total", "counter",
         "Records given up: the stream or the user does not take them.", p.refused},
        {"mdlink_relay_resent_total", "counter", "Records sent again after a failed acknowledgement.",
         p.retried},
        {"mdlink_relay_bus_connected", "gauge", "1 while the connection to the bus is up.",
         static_cast<std::uint64_t>(link.Up() ? 1 : 0)},
        {"mdlink_relay_bus_reconnections_total", "counter", "Connections to the bus made after the first.",
         link.Reconnections()},
    };
    for (const Figure& f : figures) {
        out.Family(f.name, f.type, f.help);
        out.Sample(f.name, {}, f.value);
    }
    out.Family("mdlink_relay_ack_latency_seconds", "histogram",
               "From a record's last send to the stream's acknowledgement.");
    publisher.AckLatency().Write(out, "mdlink_relay_ack_latency_seconds", {});
}

} // namespace mdrelay
