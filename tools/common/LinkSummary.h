// The summary of a redundant client's links, one line each (mdcli and mdrelay).
#pragma once

#include "RedundantMdApi.h"

#include <string>
#include <vector>

namespace mdtools {

std::vector<std::string> LinkSummary(const mdlink::RedundantLinkCounters* links, int count);

} // namespace mdtools
