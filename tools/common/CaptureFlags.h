// The capture flags the client tools share: --capture DIR, --capture-flush MS
// and --capture-queue N.
#pragma once

#include "CaptureSettings.h"

#include <CLI/CLI.hpp>

namespace mdtools {

// `what` says what --capture writes: "every depth record received, with its receive time,".
void AddCaptureFlags(CLI::App& app, CaptureSettings& settings, const std::string& what);

} // namespace mdtools
