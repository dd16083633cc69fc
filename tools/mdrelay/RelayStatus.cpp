#include "RelayStatus.h"

namespace mdrelay {

std::string StatusLine(const RelayStatus& s)
{
    const PublisherCounters& p = s.publisher;
    std::string line = "mdrelay: received=" + std::to_string(s.received) +
        " published=" + std::to_string(p.published) + " acknowledged=" + std::to_string(p.acknowledged) +
        " duplicates=" + std::to_string(p.duplicates) + " dropped=" + std::to_string(s.dropped + p.unbuilt) +
        " refused=" + std::to_string(p.refused) + " reconnections=" + std::to_string(s.reconnections) +
        " retried=" + std::to_string(p.retried) + " queued=" + std::to_string(s.queued) +
        " in-flight=" + std::to_string(p.held);
    return line;
}

} // namespace mdrelay
