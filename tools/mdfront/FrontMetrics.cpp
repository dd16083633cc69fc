#include "FrontMetrics.h"

#include <map>

namespace mdfront {

void WriteFrontFigures(mdlink::metrics::ExpositionWriter& out, const FrontServer& front)
{
    std::uint64_t open = 0, records = 0, bytes = 0;
    std::map<std::string, std::uint64_t> faults;
    const std::size_t accepted = front.ConnectionCount();
    for (std::size_t i = 0; i < accepted; ++i) {
        const ConnectionStats s = front.Stats(i);
        open += s.open ? 1 : 0;
        records += s.depth_sent + s.forquote_sent;
        bytes += s.bytes_written;
        // An injected fault names itself "<flag> fault"; the end of a
        // connection for any other reason (the client left) is no fault.
        const std::string suffix = " fault";
        if (s.faulted && s.fault.size() > suffix.size() &&
            s.fault.compare(s.fault.size() - suffix.size(), suffix.size(), suffix) == 0)
            ++faults[s.fault.substr(0, s.fault.size() - suffix.size())];
    }
    out.Family("mdlink_front_connections", "gauge", "Client connections open now.");
    out.Sample("mdlink_front_connections", {}, open);
    out.Family("mdlink_front_connections_accepted_total", "counter", "Client connections accepted.");
    out.Sample("mdlink_front_connections_accepted_total", {}, static_cast<std::uint64_t>(accepted));
    out.Family("mdlink_front_records_sent_total", "counter", "Depth records and for-quote notices sent.");
    out.Sample("mdlink_front_records_sent_total", {}, records);
    out.Family("mdlink_front_sent_bytes_total", "counter", "Bytes written to client connections.");
    out.Sample("mdlink_front_sent_bytes_total", {}, bytes);
    out.Family("mdlink_front_faults_total", "counter", "Connections whose stream a fault broke, by fault.");
    for (const auto& f : faults)
        out.Sample("mdlink_front_faults_total", {{"fault", f.first}}, f.second);
}

} // namespace mdfront
