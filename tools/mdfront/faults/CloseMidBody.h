// After a number of frames, the next frame with a body goes out as its
// header and half the body, and the link closes.
#pragma once

#include "FaultKit.h"

#include "wire/FrameHeader.h"

#include <algorithm>

namespace mdfront {

class CloseMidBody : public Fault {
public:
    struct Settings {
        // After this many frames, send only the header and half the body of
        // the next frame that has a body, then close.
        std::optional<std::uint64_t> close_mid_body_after_frames;
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"close-mid-body", "N",
                  "fault: after N frames, send the header and half the"
                  " body of the next frame, then close",
                  CountInto(&Settings::close_mid_body_after_frames)}},
                WhenSet<CloseMidBody>(&Settings::close_mid_body_after_frames)};
    }

    explicit CloseMidBody(std::uint64_t frames) : frames_(frames) {}
    bool TakeFrame(FaultHost& host, Bytes& frame, SentFrame& record) override
    {
        if (host.FramesQueued() < frames_ || record.header.BodyLength == 0)
            return false;
        const std::size_t body = frame.size() - mdlink::FrameHeaderSize;
        frame.resize(mdlink::FrameHeaderSize + std::max<std::size_t>(1, body / 2));
        record.kind = SentKind::PartialFrame;
        host.QueueFaultBytes(std::move(frame), std::move(record), Why);
        host.CloseAfterDrain(Why);
        return true;
    }

private:
    static constexpr const char* Why = "close-mid-body fault";
    std::uint64_t frames_;
};

} // namespace mdfront
