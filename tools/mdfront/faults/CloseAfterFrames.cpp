// After a number of frames the front sends what is queued and closes.
#include "AfterFrames.h"
#include "Faults.h"

namespace mdfront {

FaultKind CloseAfterFramesFault()
{
    return AfterFrames::Kind("close-after-frames", "fault: close the link after sending N frames",
                             &FrontFaults::close_after_frames, &FaultHost::CloseAfterDrain,
                             "close-after-frames fault");
}

} // namespace mdfront
