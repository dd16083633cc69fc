// The metrics page: every listed client's figures in the exposition format.
#pragma once

#include "metrics/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mdlink {
namespace metrics {

// Both on the metrics thread, nowMs the base layer's tick count. Sampling
// (at every tick of the metrics thread, at least every LinkFigures::SampleMs)
// notes when each record count changed, for the last record's age, and asks
// each client to time its next record's feed lag. loopStallSeconds: the
// loop's longest stall since the last scrape; below 0, not shown.
void SampleRecords(const std::vector<Listed>& clients, std::uint32_t nowMs);
std::string RenderPage(const std::vector<Listed>& clients, std::uint32_t nowMs, double loopStallSeconds = -1);

} // namespace metrics
} // namespace mdlink
