// After a number of frames the front stops sending but keeps the link.
#include "FaultFlags.h"
#include "Faults.h"

namespace mdfront {

namespace {

class SilentAfterFrames : public Fault {
public:
    explicit SilentAfterFrames(std::uint64_t frames) : frames_(frames) {}
    void OnAccept(FaultHost& host) override
    {
        if (frames_ == 0)
            host.GoSilent(Why);
    }
    void AfterFrame(FaultHost& host) override
    {
        if (host.FramesQueued() >= frames_)
            host.GoSilent(Why);
    }

private:
    static constexpr const char* Why = "silent-after-frames fault";
    std::uint64_t frames_;
};

} // namespace

FaultKind SilentAfterFramesFault()
{
    return {{{"silent-after-frames", "N", "fault: go silent after sending N frames",
              CountInto(&FrontFaults::silent_after_frames)}},
            [](const FrontFaults& f) -> std::unique_ptr<Fault> {
                if (!f.silent_after_frames)
                    return nullptr;
                return std::make_unique<SilentAfterFrames>(*f.silent_after_frames);
            }};
}

} // namespace mdfront
