// The heartbeat supervisor: notices a silent link and gives up on it.
//
// Every body frame (OnActivity) and every accepted reply re-arms a 12 s idle
// timer. Its expiry sends a heartbeat and arms a 3 s reply timer; each reply
// expiry sends again, and the third hands over to the owner's TimedOut: a
// silent link is dropped 21 s after its last activity. Heartbeats go out,
// and the supervisor's lines are logged, through the owner's callbacks.
//
//   state           IdleTimerId  ReplyTimerId  TryCount
//   unarmed         0            0             any
//   idle            armed        0             any
//   awaiting reply  0            armed         0, 1, 2
//
//   from            event                        to
//   any             Start                        idle
//   any             Stop                         unarmed
//   any             OnActivity                   idle (reply timer cleared, TryCount 0)
//   any             OnHeartBeatReply, matching   idle (stale idle expiry ignored later)
//   idle            idle expiry                  awaiting reply, TryCount 0 (unarmed if the send failed)
//   awaiting, 0/1   reply expiry                 awaiting reply, TryCount+1 (unarmed if the send failed)
//   awaiting, 2     reply expiry                 TimedOut, unarmed
//   any             expiry with a stale id       unchanged, logged
#include "link/HeartBeat.h"

#include <cstdarg>
#include <cstdio>

using namespace mdlink;

CHeartBeat::CHeartBeat()
    : IdleTimerId(0), ReplyTimerId(0), TryCount(0), Callbacks(nullptr), Owner(nullptr), HeartBeatSeq(0)
{}

CHeartBeat::~CHeartBeat()
{
    ClearTimer(IdleTimerId);
    ClearTimer(ReplyTimerId);
    IdleTimerId = 0;
    ReplyTimerId = 0;
    TryCount = 0;
}

void CHeartBeat::Log(const char* format, ...)
{
    if (!Callbacks)
        return;
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Callbacks->Log(Owner, text);
}

void CHeartBeat::ClearReply()
{
    if (ReplyTimerId != 0) {
        ClearTimer(ReplyTimerId);
        ReplyTimerId = 0;
        TryCount = 0;
    }
}

void CHeartBeat::Start(const HeartBeatCallbacks* callbacks, void* owner)
{
    TryCount = 0;
    ClearTimer(IdleTimerId);
    ClearTimer(ReplyTimerId);
    ReplyTimerId = 0;
    IdleTimerId = SetTimer(IdleInterval, OwnerIdle, 0, 0, nullptr);
    Callbacks = callbacks;
    Owner = owner;
}

void CHeartBeat::Stop()
{
    if (IdleTimerId != 0) {
        ClearTimer(IdleTimerId);
        IdleTimerId = 0;
    }
    ClearReply();
}

void CHeartBeat::OnActivity()
{
    ClearReply();
    ClearTimer(IdleTimerId);
    IdleTimerId = SetTimer(IdleInterval, OwnerIdle, 0, 0, nullptr);
}

void CHeartBeat::OnHeartBeatReply(const FrameHeader& header)
{
    // Only the reply to the latest heartbeat counts; before the first one
    // the expected number wraps to 0xFFFFFFFF.
    if (static_cast<std::uint32_t>(header.RequestId) != HeartBeatSeq - 1u)
        return;
    ClearReply();
    // An idle timer still armed is left to expire with a stale id.
    IdleTimerId = SetTimer(IdleInterval, OwnerIdle, 0, 0, nullptr);
    Log("Set HeartBeat Timer 0x%08x", IdleTimerId);
}

void CHeartBeat::SendHeartBeat()
{
    FrameHeader header;
    header.Marker = MarkerBinary;
    header.MsgType = MsgHeartBeat;
    header.RequestId = static_cast<std::int32_t>(HeartBeatSeq);
    header.Tick = Kelvo_THREAD_GetTickCount();
    HeartBeatSeq += 1;
    ReplyTimerId = SetTimer(ReplyInterval, OwnerReply, 0, 0, nullptr);
    if (!Callbacks || Callbacks->Send(Owner, header) == 0) {
        ClearTimer(ReplyTimerId);
        ReplyTimerId = 0;
    }
}

void CHeartBeat::OnTimer(unsigned int id, int, int user)
{
    Log("OnTimer begin");
    if (user == OwnerReply) {
        if (id != ReplyTimerId) {
            Log("OnTimer [owner:%d][0x%08x] end", user, id);
            return;
        }
        TryCount += 1;
        if (TryCount == MaxTries) {
            ReplyTimerId = 0;
            if (Callbacks)
                Callbacks->TimedOut(Owner);
            TryCount = 0;
        } else {
            SendHeartBeat();
            Log("%d times try Send HeartBeat", TryCount);
        }
    } else {
        if (id != IdleTimerId) {
            Log("OnTimer [owner:%d][0x%08x] end", user, id);
            return;
        }
        IdleTimerId = 0;
        SendHeartBeat();
        Log("Send HeartBeat");
        TryCount = 0;
    }
    Log("OnTimer end");
}
