// After a number of frames the front stops sending but keeps the link.
#pragma once

#include "AfterFrames.h"

namespace mdfront {

struct SilentAfterFrames {
    struct Settings {
        // As silent_after_time, once this many frames have been queued.
        std::optional<std::uint64_t> silent_after_frames;
    };
    static EntryOf<Settings> Entry()
    {
        return AfterFrames::Entry("silent-after-frames", "fault: go silent after sending N frames",
                                  &Settings::silent_after_frames, &FaultHost::GoSilent,
                                  "silent-after-frames fault");
    }
};

} // namespace mdfront
