// Connection events, the reconnect after a heartbeat timeout, and the
// callbacks through which the supervisor reaches this client.
//
// A failed connect or a lost link is reported to the application and left to
// the base layer, which connects again after the 3000 ms these callbacks
// return: a lost link to the same front, a failed attempt to the next one
// (so that one dead front never keeps the client from the others). Only a
// heartbeat timeout closes the link and connects to the next front itself.
#include "api/MdClient.h"

#include "link/HeartBeat.h"
#include "wire/SendFrame.h"

using namespace mdlink;

namespace {

// The supervisor's side of the client: its heartbeats go out on this link,
// its timeout drops it, its lines go to this client's log.
int SendHeartBeat(void* client, const mdlink::FrameHeader& header)
{
    return mdlink::SendFrame(*static_cast<CKelvoMDClient*>(client), header, nullptr, 0);
}

void HeartBeatTimedOut(void* client)
{
    static_cast<CKelvoMDClient*>(client)->HeartBeatTimeout();
}

void HeartBeatLog(void* client, const char* text)
{
    static_cast<CKelvoMDClient*>(client)->WriteLog(LogInfo, "HeartBeat", "%s", text);
}

const mdlink::HeartBeatCallbacks SupervisorCallbacks = {SendHeartBeat, HeartBeatTimedOut, HeartBeatLog};

} // namespace

void CKelvoMDClient::ResetReceiveState()
{
    // The first bytes of the next link are a header; a big body's buffer
    // goes with this one.
    Reader.Reset();
}

void CKelvoMDClient::OnConnectOk()
{
    WriteLog(LogInfo, "OnConnectOk", "OnConnectOk begin");
    Supervisor->Start(&SupervisorCallbacks, this);
    Figures->connected.Set(1);
    Figures->connects.Add();
    CallSpi(CbFrontConnected, &CThostFtdcMdSpi::OnFrontConnected);
    WriteLog(LogInfo, "OnConnectOk", "OnConnectOk end");
}

int CKelvoMDClient::OnConnectFaild(void*, int reason)
{
    WriteLog(LogInfo, "ConnectFaild", "OnConnectFaild begin %d", reason);
    Supervisor->Stop();
    ResetReceiveState();
    Figures->connected.Set(0);
    Figures->loggedIn.Set(0);
    Kelvo_SocketAddr* next = NextFront();
    Figures->SetFront(next->GetAddr(), next->GetPort());
    SetReconnectAddr(next->GetAddr(), next->GetPort());
    CallSpi(CbFrontDisconnected, &CThostFtdcMdSpi::OnFrontDisconnected, reason);
    WriteLog(LogInfo, "ConnectFaild", "OnConnectFaild end");
    return ReconnectDelay;
}

int CKelvoMDClient::OnDisConnect(void*, int reason)
{
    WriteLog(LogInfo, "DisConnect", "OnDisConnect begin %d", reason);
    Supervisor->Stop();
    Figures->connected.Set(0);
    Figures->loggedIn.Set(0);
    ResetReceiveState();
    CallSpi(CbFrontDisconnected, &CThostFtdcMdSpi::OnFrontDisconnected, ReasonDisConnect);
    WriteLog(LogInfo, "DisConnect", "OnDisConnect end");
    return ReconnectDelay;
}

void CKelvoMDClient::HeartBeatTimeout()
{
    WriteLog(LogInfo, "Timeout", "HeartBeatTimeout begin");
    Supervisor->Stop();
    Close();
    Figures->heartbeatTimeouts.Add();
    Figures->connected.Set(0);
    Figures->loggedIn.Set(0);
    ResetReceiveState();
    Kelvo_SocketAddr* front = NextFront();
    Figures->SetFront(front->GetAddr(), front->GetPort());
    WriteLog(LogInfo, "Timeout", "reConnect [%s] %d", front->GetAddr(), front->GetPort());
    Connect(front->GetAddr(), front->GetPort());
    CallSpi(CbFrontDisconnected, &CThostFtdcMdSpi::OnFrontDisconnected, ReasonHeartBeatTimeout);
    WriteLog(LogInfo, "Timeout", "HeartBeatTimeout end");
}
