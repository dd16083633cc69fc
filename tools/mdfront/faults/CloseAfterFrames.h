// After a number of frames the front sends what is queued and closes.
#pragma once

#include "AfterFrames.h"

namespace mdfront {

struct CloseAfterFrames {
    struct Settings {
        // Close the link once this many frames have been written.
        std::optional<std::uint64_t> close_after_frames;
    };
    static EntryOf<Settings> Entry()
    {
        return AfterFrames::Entry("close-after-frames", "fault: close the link after sending N frames",
                                  &Settings::close_after_frames, &FaultHost::CloseAfterDrain,
                                  "close-after-frames fault");
    }
};

} // namespace mdfront
