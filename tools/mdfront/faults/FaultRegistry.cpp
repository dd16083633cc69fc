#include "Faults.h"

namespace mdfront {

const std::vector<FaultKind>& FaultKinds()
{
    // Hooks run in this order: the frames after a login go out as unknown
    // frames, then garbage, then an announcement.
    static const std::vector<FaultKind> all = {
        SilentAfterTimeFault(), SilentAfterFramesFault(), CloseAfterFramesFault(),
        CloseMidBodyFault(),    RefuseLoginsFault(),      UnknownFramesFault(),
        GarbageAfterLoginFault(), AnnounceBodyFault(),    BigBodyFault(),
        TrickleFault(),         ShortBodiesFault(),
    };
    return all;
}

std::vector<std::unique_ptr<Fault>> MakeFaults(const FrontFaults& settings)
{
    std::vector<std::unique_ptr<Fault>> out;
    for (const FaultKind& kind : FaultKinds())
        if (auto fault = kind.make(settings))
            out.push_back(std::move(fault));
    return out;
}

} // namespace mdfront
