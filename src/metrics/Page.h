// The metrics page: every listed client's figures in the exposition format.
#pragma once

#include "metrics/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mdlink {
namespace metrics {

// Both on the metrics thread, nowMs the base layer's tick count. Sampling
// (every LinkFigures::SampleMs) notes when each record count changed; the
// page gives the last record's age from it.
void SampleRecords(const std::vector<Listed>& clients, std::uint32_t nowMs);
std::string RenderPage(const std::vector<Listed>& clients, std::uint32_t nowMs);

} // namespace metrics
} // namespace mdlink
