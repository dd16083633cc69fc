// mdcli's summary of a redundant client's links, one line each.
#pragma once

#include "RedundantMdApi.h"

#include <string>
#include <vector>

namespace mdcli {

std::vector<std::string> LinkSummary(const mdlink::RedundantLinkCounters* links, int count);

} // namespace mdcli
