// Every client of the process whose figures the metrics page shows, in the
// order they were made. A client is listed while its figures live: the
// registry keeps weak references only, so a released client drops out by
// itself. The registry's lock is taken when a client is made and by a
// scrape to copy the list, never by the loop thread per record.
#pragma once

#include "metrics/Figures.h"

#include <memory>
#include <vector>

namespace mdlink {
namespace metrics {

struct RedundantFigures;

struct Listed {
    int client = 0;
    std::shared_ptr<LinkFigures> single;         // a single client, or
    std::shared_ptr<RedundantFigures> redundant; // a redundant one
};

// Lists the figures; returns the client's number (1, 2, ...).
int Register(const std::shared_ptr<LinkFigures>& single);
int Register(const std::shared_ptr<RedundantFigures>& redundant);
// The clients listed now, their figures held for the caller.
std::vector<Listed> ListClients();

} // namespace metrics
} // namespace mdlink
