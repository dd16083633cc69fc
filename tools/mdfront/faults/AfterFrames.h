// A fault that acts once a connection has queued a number of frames (at
// once for none): goes silent, or closes after sending what is queued.
#pragma once

#include "FaultKit.h"

namespace mdfront {

class AfterFrames : public Fault {
public:
    using Act = void (FaultHost::*)(const std::string& why);

    AfterFrames(std::uint64_t frames, Act act, const char* why) : frames_(frames), act_(act), why_(why) {}
    void OnAccept(FaultHost& host) override
    {
        if (frames_ == 0)
            (host.*act_)(why_);
    }
    void AfterFrame(FaultHost& host) override
    {
        if (host.FramesQueued() >= frames_)
            (host.*act_)(why_);
    }

    // The registry entry of such a fault: one count flag.
    template <class S>
    static EntryOf<S> Entry(const char* flag, const char* help, std::optional<std::uint64_t> S::*member,
                            Act act, const char* why)
    {
        return {{{flag, "N", help, CountInto(member)}},
                [member, act, why](const S& f) -> std::unique_ptr<Fault> {
                    if (!(f.*member))
                        return nullptr;
                    return std::make_unique<AfterFrames>(*(f.*member), act, why);
                }};
    }

private:
    std::uint64_t frames_;
    Act act_;
    const char* why_;
};

} // namespace mdfront
