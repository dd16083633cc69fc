// CHeartBeat: the heartbeat supervisor of one client.
#pragma once

#include "KelvoBase.h"
#include "wire/FrameHeader.h"

#include <cstdint>

class CKelvoMDClient;

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

    void Start(CKelvoMDClient* owner);
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
    CKelvoMDClient* Owner;
    std::uint32_t HeartBeatSeq;
};
