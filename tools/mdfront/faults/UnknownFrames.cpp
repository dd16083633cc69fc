// Right after a successful login, frames of message types no client knows.
#include "FaultKit.h"
#include "Faults.h"

#include "FrameBuilder.h"

namespace mdfront {

namespace {

// A heartbeat type that carries a body is one of them.
const std::uint32_t UnknownTypes[] = {0x40050099, 0x20050004, mdlink::MsgHeartBeat, 0x7F000001,
                                      0x40050003};

class UnknownFrames : public Fault {
public:
    UnknownFrames(std::size_t frames, std::size_t bodyLength)
        : frames_(frames), bodyLength_(bodyLength)
    {
    }
    void AfterLogin(FaultHost& host) override
    {
        for (std::size_t i = 0; i < frames_; ++i) {
            const std::uint32_t type = UnknownTypes[i % (sizeof UnknownTypes / sizeof UnknownTypes[0])];
            host.QueueWholeFrame(MakeFrame(type, 0, false, host.RandomBytes(bodyLength_)));
        }
    }

private:
    std::size_t frames_;
    std::size_t bodyLength_;
};

} // namespace

FaultKind UnknownFramesFault()
{
    return {{{"unknown-frames", "N", "fault: after login, send N frames of message types"
              " the client does not know", CountInto(&FrontFaults::unknown_frames)},
             {"unknown-body-length", "BYTES", "body size of those frames (default 32, at"
              " most 1048576)", CountInto(&FrontFaults::unknown_body_length, 0, 1u << 20)}},
            [](const FrontFaults& f) -> std::unique_ptr<Fault> {
                if (f.unknown_frames == 0)
                    return nullptr;
                return std::make_unique<UnknownFrames>(f.unknown_frames, f.unknown_body_length);
            }};
}

} // namespace mdfront
