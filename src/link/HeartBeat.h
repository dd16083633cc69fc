// CHeartBeat: the heartbeat supervisor of one client.
#pragma once

#include "KelvoBase.h"
#include "wire/FrameHeader.h"

#include <cstdint>

namespace mdlink {

// What the supervisor needs of whoever owns the link, called with the owner
// given to Start: the supervisor knows no client.
struct HeartBeatCallbacks {
    // Hands a heartbeat frame (a header, no body) to the link; 0 when the
    // link refused it.
    int (*Send)(void* owner, const FrameHeader& header);
    // The third heartbeat went unanswered: the link is to be given up.
    void (*TimedOut)(void* owner);
    // One line of the supervisor's own, already formatted.
    void (*Log)(void* owner, const char* text);
};

} // namespace mdlink

class CHeartBeat : public Kelvo_Timer {
public:
    static constexpr unsigned int IdleInterval = 12000;
    static constexpr unsigned int ReplyInterval = 3000;
    static constexpr int OwnerIdle = 0;
    static constexpr int OwnerReply = 1;
    static constexpr int MaxTries = 3;

    CHeartBeat();
    ~CHeartBeat() override;
    void OnTimer(unsigned int id, int reserved, int user) override;

    // Arms the idle timer; from now on the callbacks are made with owner.
    void Start(const mdlink::HeartBeatCallbacks* callbacks, void* owner);
    void Stop();
    void OnActivity();
    void OnHeartBeatReply(const mdlink::FrameHeader& header);

    // For inspection (tests, diagnostics).
    std::uint32_t GetIdleTimerId() const { return IdleTimerId; }
    std::uint32_t GetReplyTimerId() const { return ReplyTimerId; }
    std::int32_t GetTryCount() const { return TryCount; }
    std::uint32_t GetHeartBeatSeq() const { return HeartBeatSeq; }

private:
    void SendHeartBeat();
    void ClearReply();
    void Log(const char* format, ...) KELVO_PRINTF(2, 3);

    std::uint32_t IdleTimerId;
    std::uint32_t ReplyTimerId;
    std::int32_t TryCount;
    const mdlink::HeartBeatCallbacks* Callbacks;
    void* Owner;
    std::uint32_t HeartBeatSeq;
};
