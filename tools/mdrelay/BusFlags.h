// mdrelay's bus flags, the same in both modes: how to reach the bus
// (BusOptions).
#pragma once

#include "BusOptions.h"
#include "CommandLine.h"

namespace mdrelay {

void AddBusFlags(CLI::App& app, BusOptions& bus);

} // namespace mdrelay
