// After a number of frames the front sends what is queued and closes.
#include "FaultFlags.h"
#include "Faults.h"

namespace mdfront {

namespace {

class CloseAfterFrames : public Fault {
public:
    explicit CloseAfterFrames(std::uint64_t frames) : frames_(frames) {}
    void OnAccept(FaultHost& host) override
    {
        if (frames_ == 0)
            host.CloseAfterDrain(Why);
    }
    void AfterFrame(FaultHost& host) override
    {
        if (host.FramesQueued() >= frames_)
            host.CloseAfterDrain(Why);
    }

private:
    static constexpr const char* Why = "close-after-frames fault";
    std::uint64_t frames_;
};

} // namespace

FaultKind CloseAfterFramesFault()
{
    return {{{"close-after-frames", "N", "fault: close the link after sending N frames",
              CountInto(&FrontFaults::close_after_frames)}},
            [](const FrontFaults& f) -> std::unique_ptr<Fault> {
                if (!f.close_after_frames)
                    return nullptr;
                return std::make_unique<CloseAfterFrames>(*f.close_after_frames);
            }};
}

} // namespace mdfront
