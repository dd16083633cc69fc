// Construction, registration, Init and Release of the client object.
#include "api/MdClient.h"

#include "api/FrontAddress.h"
#include "calls/Boundary.h"
#include "calls/LoopCall.h"
#include "link/HeartBeat.h"

#include <cstdint>

using namespace mdlink;

CKelvoMDClient::CKelvoMDClient()
    : RspInfoSize(sizeof(CThostFtdcRspInfoField)), Spi(nullptr), FrontCursor(0), Started(false)
{
    Logger.reset(new Kelvo_Log(1));
    Logger->SetMainDir(mdlink::LogDirectory);
    Logger->Init(mdlink::LogName, mdlink::LogKeepDays);
}

// Release has closed the connection before we get here.
CKelvoMDClient::~CKelvoMDClient()
{
    SpiFaults.Flush();
    Supervisor.reset();
    Logger.reset();
    FrontList.clear();
}

void CKelvoMDClient::StopLink()
{
    if (Supervisor)
        Supervisor->Stop();
    Close();
    Figures->connected.Set(0);
    Figures->loggedIn.Set(0);
}

void CKelvoMDClient::Release()
{
    mdlink::AtBoundary([&] {
        // Never started: no connection and no timer can call back.
        if (!Started) {
            Close();
            delete this;
            return;
        }
        // Inside a callback (ours or another client's): the base layer still
        // holds this object until the callback returns, so only close now and
        // destroy once the loop is back in control.
        if (Kelvo_LOOP_InThread()) {
            StopLink();
            Kelvo_LOOP_Post([](void* client) { delete static_cast<CKelvoMDClient*>(client); }, this);
            return;
        }
        // From an application thread: tear down on the loop so that nothing of
        // ours runs or can start once this returns.
        mdlink::CallOnLoop([this] {
            StopLink();
            delete this;
        });
    });
}

void CKelvoMDClient::Init()
{
    mdlink::AtBoundary([&] {
        if (Started) {
            WriteLog(LogWarning, "Init", "Init: already started");
            return;
        }
        if (FrontList.empty()) {
            WriteLog(LogError, "Init", "Init: no front registered");
            return;
        }
        // Pinned on purpose: tools that read the client's logs look for it.
        WriteLog(LogInfo, "Init", "Init version:2.0.0.1--->");
        Supervisor.reset(new CHeartBeat());
        Started = true;
        // On the loop, so that no callback runs before Init is done with this
        // object: one may Release it (a refused or quick connect comes at once).
        bool handedOver = false;
        try {
            mdlink::CallOnLoop([this, &handedOver] {
                handedOver = true;
                Kelvo_SocketAddr* front = NextFront();
                Figures->SetFront(front->GetAddr(), front->GetPort());
                Connect(front->GetAddr(), front->GetPort());
                WriteLog(LogInfo, "Init", "Init <---");
            });
        } catch (...) {
            // Never reached the loop (no memory, no loop thread): nothing was
            // started, so a later Init may try again.
            if (!handedOver) {
                Started = false;
                Supervisor.reset();
            }
            throw;
        }
    });
}

int CKelvoMDClient::Join()
{
    return 0;
}

const char* CKelvoMDClient::GetTradingDay()
{
    return nullptr;
}

void CKelvoMDClient::RegisterNameServer(char*)
{}

void CKelvoMDClient::RegisterFensUserInfo(CThostFtdcFensUserInfoField*)
{}

int CKelvoMDClient::ReqUserLogout(CThostFtdcUserLogoutField*, int)
{
    return 0;
}

int CKelvoMDClient::ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField*, int)
{
    return 0;
}

void CKelvoMDClient::RegisterSpi(CThostFtdcMdSpi* pSpi)
{
    mdlink::AtBoundary([&] {
        WriteLog(LogInfo, "RegSpi", "RegisterSpi [0x%08x]",
                 static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(pSpi)));
        if (!Started) {
            Spi = pSpi;
            return;
        }
        // The loop thread reads Spi for every frame; switch it there, so that no
        // callback on the old object is still running when this returns.
        mdlink::CallOnLoop([this, pSpi] { Spi = pSpi; });
    });
}

void CKelvoMDClient::RegisterFront(char* pszFrontAddress)
{
    mdlink::AtBoundary([&] {
        if (!pszFrontAddress) {
            WriteLog(LogWarning, "RegFront", "RegisterFront: null address ignored");
            return;
        }
        WriteLog(LogInfo, "RegFront", "RegisterFront : %s", pszFrontAddress);
        std::unique_ptr<Kelvo_SocketAddr> front = mdlink::ParseFrontAddress(pszFrontAddress);
        if (!front) {
            WriteLog(LogWarning, "RegFront", "RegisterFront: [%s] is not a front address, ignored",
                     pszFrontAddress);
            return;
        }
        AppendFront(std::move(front));
    });
}

void CKelvoMDClient::AppendFront(std::unique_ptr<Kelvo_SocketAddr> front)
{
    if (!Started) {
        FrontList.push_back(std::move(front));
        return;
    }
    // NextFront runs on the loop thread; grow the list there.
    mdlink::CallOnLoop([this, &front] { FrontList.push_back(std::move(front)); });
}

Kelvo_SocketAddr* CKelvoMDClient::NextFront()
{
    if (FrontList.empty())
        return nullptr;
    if (FrontCursor >= static_cast<std::int32_t>(FrontList.size()))
        FrontCursor = 0;
    Kelvo_SocketAddr* front = FrontList[FrontCursor].get();
    FrontCursor = FrontCursor + 1;
    return front;
}
