// Right after a successful login, frames of message types no client knows.
#pragma once

#include "FaultKit.h"
#include "FrameBuilder.h"

namespace mdfront {

class UnknownFrames : public Fault {
public:
    struct Settings {
        // Frames of message types the client does not know, sent right after
        // a successful login response, each with a body of unknown_body_length.
        std::size_t unknown_frames = 0;
        std::size_t unknown_body_length = 32;
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"unknown-frames", "N",
                  "fault: after login, send N frames of message types"
                  " the client does not know",
                  CountInto(&Settings::unknown_frames)},
                 {"unknown-body-length", "BYTES",
                  "body size of those frames (default 32, at"
                  " most 1048576)",
                  CountInto(&Settings::unknown_body_length, 0, 1u << 20)}},
                [](const Settings& f) -> std::unique_ptr<Fault> {
                    if (f.unknown_frames == 0)
                        return nullptr;
                    return std::make_unique<UnknownFrames>(f.unknown_frames, f.unknown_body_length);
                }};
    }

    UnknownFrames(std::size_t frames, std::size_t bodyLength) : frames_(frames), bodyLength_(bodyLength) {}
    void AfterLogin(FaultHost& host) override
    {
        // A heartbeat type that carries a body is one of them.
        static const std::uint32_t types[] = {0x40050099, 0x20050004, mdlink::MsgHeartBeat, 0x7F000001,
                                              0x40050003};
        for (std::size_t i = 0; i < frames_; ++i) {
            const std::uint32_t type = types[i % (sizeof types / sizeof types[0])];
            host.QueueWholeFrame(MakeFrame(type, 0, false, host.RandomBytes(bodyLength_)));
        }
    }

private:
    std::size_t frames_;
    std::size_t bodyLength_;
};

} // namespace mdfront
