// The metrics page: every listed client's figures in the exposition format.
#pragma once

#include "metrics/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mdlink {
namespace metrics {

// nowMs: the base layer's tick count, which the last records' ticks are
// compared with.
std::string RenderPage(const std::vector<Listed>& clients, std::uint32_t nowMs);

} // namespace metrics
} // namespace mdlink
