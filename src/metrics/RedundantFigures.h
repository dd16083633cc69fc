// A redundant client's figures for the metrics page: its links' cells,
// which the successive inner clients of each link count in, and copies of
// its arbiter's counters.
#pragma once

#include "metrics/Figures.h"

#include "RedundantMdApi.h"

#include <memory>

namespace mdlink {
namespace metrics {

// What a redundant client's arbiter counted for one link, copied in by the
// client's own watch timer (four times a second), not per record.
struct ArbiterFigures {
    Cell first;
    Cell copies;
    Cell lateCopies;
    Cell older;
    Cell held;
    Cell lateTimed;
    Cell lateSumNs;
    Cell late[RedundantLateBuckets];
};

struct RedundantFigures {
    RedundantFigures()
    {
        for (auto& l : links)
            l = std::make_shared<LinkFigures>();
    }
    std::shared_ptr<LinkFigures> links[RedundantMaxLinks];
    ArbiterFigures arbiter[RedundantMaxLinks];
    Cell made; // links made by Init; none is listed before
};

} // namespace metrics
} // namespace mdlink
