// The soak run: fronts and clients in one process, the driver thread that
// misbehaves on both sides and judges what comes back, and the final table.
#pragma once

#include "Options.h"

namespace soak {

// Returns the process's exit status: 0 when every invariant held.
int Run(const Options& options);

} // namespace soak
