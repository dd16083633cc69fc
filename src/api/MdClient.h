// CKelvoMDClient: the object behind CThostFtdcMdApi.
//
// One client owns one connection (its Kelvo_TcpClientHandler base), the
// registered fronts, its frame reader, its log and its heartbeat supervisor.
// Its members are all defined here in api/, one file per subsystem:
//   api/MdClient.cpp    construction, registration, Init, Release
//   api/Requests.cpp    login and subscription requests
//   api/Receive.cpp     OnRecvBuffer, OnRecvData (forwarded to the reader), HandleMsg
//   api/Connection.cpp  connection events, the heartbeat-timeout reconnect and
//                       the supervisor's callbacks
//   api/WriteLog.cpp    WriteLog
// Its figures for the metrics page (metrics/Figures.h) are counted where
// the events happen: connections in Connection.cpp, logins and records in
// Receive.cpp.
// What they build on lies below and knows no client: wire/ (frame format,
// frame reader, text decoding, frame building), link/ (the heartbeat
// supervisor, reached through its callbacks), log/ (the log record), calls/
// (the interface calls' plumbing both clients share: the boundary, the loop
// call, the list arguments). Above it: redundant/ (the client over several
// of these) and Entry.cpp (the exported factory, which makes either).
//
// Threads: application threads call the CThostFtdcMdApi operations; the base
// layer's loop thread delivers every connection, receive and timer callback,
// one at a time, so the receive state and the supervisor need no lock.
#pragma once

#include "KelvoBase.h"
#include "MdApi.h"
#include "log/SpiFaultRecords.h"
#include "metrics/Figures.h"
#include "wire/FrameReader.h"

#include "ForcedUnwind.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

class CHeartBeat;

class CKelvoMDClient : public CThostFtdcMdApi, public Kelvo_TcpClientHandler {
public:
    static constexpr int ReasonDisConnect = 0x2001;
    static constexpr int ReasonHeartBeatTimeout = 0x2002;
    static constexpr int ReconnectDelay = 3000;

    CKelvoMDClient();

    // CThostFtdcMdApi, in its slot order.
    void Release() override;
    void Init() override;
    int Join() override;
    const char* GetTradingDay() override;
    void RegisterFront(char* pszFrontAddress) override;
    void RegisterNameServer(char* pszNsAddress) override;
    void RegisterFensUserInfo(CThostFtdcFensUserInfoField* pFensUserInfo) override;
    void RegisterSpi(CThostFtdcMdSpi* pSpi) override;
    int SubscribeMarketData(char* ppInstrumentID[], int nCount) override;
    int UnSubscribeMarketData(char* ppInstrumentID[], int nCount) override;
    int SubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) override;
    int UnSubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) override;
    int ReqUserLogin(CThostFtdcReqUserLoginField* pReqUserLoginField, int nRequestID) override;
    int ReqUserLogout(CThostFtdcUserLogoutField* pUserLogout, int nRequestID) override;
    int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField* pQryMulticastInstrument,
                                  int nRequestID) override;

    // Its own virtual operations follow, in this order.
    ~CKelvoMDClient() override;
    void OnConnectOk() override;
    int OnConnectFaild(void* reserved, int reason) override;
    int OnDisConnect(void* reserved, int reason) override;
    char* OnRecvBuffer(long& size) override;
    // Virtual and in this slot on purpose: the published class layout has it.
    virtual void HandleMsg(char* body);
    int OnRecvData(char* buffer, long size) override;

    // The front to connect to next, round robin; null when none is registered.
    Kelvo_SocketAddr* NextFront();
    // Called through the supervisor's callbacks when the third heartbeat
    // went unanswered.
    void HeartBeatTimeout();
    void WriteLog(int level, const char* tag, const char* format, ...) KELVO_PRINTF(4, 5);
    CHeartBeat* GetSupervisor() const { return Supervisor.get(); }
    // The cells this client counts in: its own, or, for a redundant
    // client's link, the link's (given before Init).
    const std::shared_ptr<mdlink::metrics::LinkFigures>& GetFigures() const { return Figures; }
    void UseFigures(std::shared_ptr<mdlink::metrics::LinkFigures> figures) { Figures = std::move(figures); }

    // The application's callbacks the client makes, for SpiFaults.
    enum SpiCallback {
        CbFrontConnected,
        CbFrontDisconnected,
        CbRspUserLogin,
        CbRspSubMarketData,
        CbRspUnSubMarketData,
        CbRspSubForQuoteRsp,
        CbRspUnSubForQuoteRsp,
        CbRtnDepthMarketData,
        CbRtnForQuoteRsp,
        SpiCallbackCount
    };
    static_assert(SpiCallbackCount == mdlink::SpiCallbackCount, "numbered as the records name them");

private:
    // Calls the application's callback, if one is registered; an exception
    // escaping it is counted and logged, and the client goes on as if it had
    // returned (log/SpiFaultRecords.h).
    template <class... Params, class... Args>
    void CallSpi(SpiCallback which, void (CThostFtdcMdSpi::*callback)(Params...), Args&&... args)
    {
        if (!Spi)
            return;
        try {
            (Spi->*callback)(std::forward<Args>(args)...);
        } catch (const std::exception& e) {
            SpiFaults.Threw(which, e.what());
        }
        KELVO_LET_FORCED_UNWIND_THROUGH
        catch (...)
        {
            SpiFaults.Threw(which, nullptr);
        }
    }

    struct ListRequest;
    int SendInstrumentList(const ListRequest& kind, char* ids[], int count);
    void ResetReceiveState();
    void StopLink();
    void AppendFront(std::unique_ptr<Kelvo_SocketAddr> front);
    void DispatchInstrumentRsp(char* body);
    void DispatchLoginRsp(char* body);
    void DispatchDepth(char* body);
    void DispatchForQuote(char* body);

    // Frames out of the link's bytes; the header and body of the frame
    // being dispatched stay in it.
    mdlink::FrameReader Reader;
    std::uint32_t RspInfoSize;
    CThostFtdcMdSpi* Spi;
    std::int32_t FrontCursor;
    std::vector<std::unique_ptr<Kelvo_SocketAddr>> FrontList;
    std::unique_ptr<Kelvo_Log> Logger;
    std::unique_ptr<CHeartBeat> Supervisor;
    // Set by the first Init that found a front: from then on the loop thread
    // may be reading Spi and FrontList.
    bool Started;

    mdlink::SpiFaultRecords<CKelvoMDClient> SpiFaults{*this};
    // Written on the loop thread only; read by the metrics page.
    std::shared_ptr<mdlink::metrics::LinkFigures> Figures = std::make_shared<mdlink::metrics::LinkFigures>();
};
