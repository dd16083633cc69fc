// Where and how a client tool captures (its --capture flags).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mdtools {

struct CaptureSettings {
    std::string directory; // empty: no capture
    std::int64_t flushMs = 1000;
    std::size_t queueRecords = 0; // 0: the writer's own bound
};

} // namespace mdtools
