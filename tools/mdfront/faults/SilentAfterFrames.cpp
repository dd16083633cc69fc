// After a number of frames the front stops sending but keeps the link.
#include "AfterFrames.h"
#include "Faults.h"

namespace mdfront {

FaultKind SilentAfterFramesFault()
{
    return AfterFrames::Kind("silent-after-frames", "fault: go silent after sending N frames",
                             &FrontFaults::silent_after_frames, &FaultHost::GoSilent,
                             "silent-after-frames fault");
}

} // namespace mdfront
