#include "LinkSummary.h"

#include <cstdio>

namespace mdtools {

namespace {

// The smallest bound under which at least `share` of the timed copies came.
std::string LateQuantile(const mdlink::RedundantLinkCounters& c, double share)
{
    unsigned long long seen = 0;
    for (int b = 0; b < mdlink::RedundantLateBuckets; ++b) {
        seen += c.Late[b];
        if (static_cast<double>(seen) >= share * static_cast<double>(c.LateTimed)) {
            if (b == mdlink::RedundantLateBuckets - 1)
                return ">=" + std::to_string(mdlink::RedundantLateBoundsUs[b - 1]) + "us";
            return "<" + std::to_string(mdlink::RedundantLateBoundsUs[b]) + "us";
        }
    }
    return "-";
}

} // namespace

std::vector<std::string> LinkSummary(const mdlink::RedundantLinkCounters* links, int count)
{
    std::vector<std::string> out;
    for (int k = 0; k < count; ++k) {
        const mdlink::RedundantLinkCounters& c = links[k];
        char line[640];
        char age[32] = "-";
        if (c.LastRecordAgeMs >= 0)
            std::snprintf(age, sizeof age, "%lldms", c.LastRecordAgeMs);
        std::snprintf(line, sizeof line,
                      "link %d [%s]: %s, records %llu (last %s ago), first %llu, copies %llu (late %llu), "
                      "older %llu, held %llu; came up %llu times, lost %llu, logins refused %llu, "
                      "unanswered %llu; copies late: half %s, 99%% %s, at most %lluus (%llu timed)",
                      k, c.Fronts, c.LoggedIn ? "usable" : (c.Up ? "up, not logged in" : "down"), c.Records,
                      age, c.First, c.Copies, c.LateCopies, c.Older, c.Held, c.Connects, c.Losses,
                      c.LoginsRefused, c.LoginTimeouts, c.LateTimed ? LateQuantile(c, 0.5).c_str() : "-",
                      c.LateTimed ? LateQuantile(c, 0.99).c_str() : "-", c.LateMaxUs, c.LateTimed);
        out.push_back(line);
    }
    return out;
}

} // namespace mdtools
