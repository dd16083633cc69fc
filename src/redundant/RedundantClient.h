// CRedundantMdClient: the published CThostFtdcMdApi over N inner clients,
// one link each, holding different fronts at the same time.
//
//   application threads          loop thread (every inner client's callbacks)
//   -------------------          --------------------------------------------
//   RegisterSpi/Front, Init      LinkSpi k --> Link* handlers (RedundantEvents.cpp)
//   ReqUserLogin, Subscribe...     depth     --> DepthArbiter --> application, first copy only
//     under the session lock:      for-quote --> ForQuoteWindow --> application
//     remember, send on links      responses --> Login/ResponseMerge (session lock)
//   Release, GetLinkCounters       link up/down --> LinkBoard (session lock)
//     carried onto the loop
//
// What the application sees, the published interface otherwise unchanged:
// - Fronts are dealt to links at Init like cards: with F fronts and N links,
//   link i holds fronts i, i + N, i + 2N, ... (F < N: F links, logged), and
//   fails over among its own only, so no two links ever hold one front.
//   Fronts registered after Init go to the links in turn.
// - Connection events: LinkBoard.h.
// - Login: the last login record the application sent is kept and sent on
//   every link that is up and on each link as it comes up while another is
//   up. After a total loss the application logs in itself (it heard
//   OnFrontDisconnected and then OnFrontConnected): until it does, links
//   that come up are left alone; its login replaces the copy.
//   ReqUserLogin returns 0 when the login went out on at least one link.
//   OnRspUserLogin comes once per application login (LoginMerge.h).
// - Subscriptions go to every logged-in link (every link that is up when
//   none is logged in) and are remembered, minus unsubscriptions; a link
//   that logs in later is subscribed by the redundant client itself. They
//   are forgotten at a total loss, when the application subscribes again as
//   it would on a single client. Responses: once per instrument and call
//   (ResponseMerge.h); those to the client's own re-subscriptions are logged.
//   Requests return 0 when sent on at least one link, else -1.
// - Depth records: DepthArbiter.h. For-quote notices: ForQuoteWindow.h.
// - Release, RegisterSpi and requests behave as on the single client, from
//   any thread and from inside any callback. Inherited by a forked child,
//   the client is inert there, as the single client is: requests return -1,
//   Init and the registrations do nothing, Release frees the links (inert
//   themselves, they leave the parent's sockets alone) and the object.
#pragma once

#include "CallbackFaults.h"
#include "DepthArbiter.h"
#include "ForQuoteWindow.h"
#include "LinkBoard.h"
#include "LoginMerge.h"
#include "RedundantMdApi.h"
#include "ResponseMerge.h"
#include "SessionMemory.h"

#include "KelvoBase.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mdlink {

class LinkSpi;
class MinuteTimer;

class CRedundantMdClient final : public CRedundantMdApi {
public:
    CRedundantMdClient(int links, ClientFactory factory);

    // CThostFtdcMdApi, in its slot order.
    void Release() override;
    void Init() override;
    int Join() override { return 0; }
    const char* GetTradingDay() override { return nullptr; }
    void RegisterFront(char* pszFrontAddress) override;
    void RegisterNameServer(char*) override {}
    void RegisterFensUserInfo(CThostFtdcFensUserInfoField*) override {}
    void RegisterSpi(CThostFtdcMdSpi* pSpi) override;
    int SubscribeMarketData(char* ppInstrumentID[], int nCount) override;
    int UnSubscribeMarketData(char* ppInstrumentID[], int nCount) override;
    int SubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) override;
    int UnSubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) override;
    int ReqUserLogin(CThostFtdcReqUserLoginField* pReqUserLoginField, int nRequestID) override;
    int ReqUserLogout(CThostFtdcUserLogoutField*, int) override { return 0; }
    int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField*, int) override { return 0; }

    int GetLinkCounters(RedundantLinkCounters* out, int max) override;

    // The links' callbacks, on the loop thread (RedundantEvents.cpp).
    void LinkConnected(int link);
    void LinkDisconnected(int link, int reason);
    void LinkLogin(int link, CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info,
                   int requestId, bool isLast);
    void LinkResponse(int link, ListKind kind, CThostFtdcSpecificInstrumentField* instrument,
                      CThostFtdcRspInfoField* info, int requestId, bool isLast);
    void LinkDepth(int link, CThostFtdcDepthMarketDataField* depth);
    void LinkForQuote(int link, CThostFtdcForQuoteRspField* notice);

    // Once a minute on the loop, and at Release (RedundantLog.cpp).
    void WriteCounters(const char* when);
    void WriteLog(int level, const char* tag, const char* format, ...) KELVO_PRINTF(4, 5);

private:
    ~CRedundantMdClient();

    struct Link {
        CThostFtdcMdApi* inner = nullptr;
        std::unique_ptr<LinkSpi> spi;
        std::string fronts; // blank-separated, for log records
        // Under the session lock.
        bool loggedIn = false;
        std::uint64_t connects = 0;
        std::uint64_t losses = 0;
        // Loop thread.
        std::uint64_t noticesFirst = 0;
        std::uint64_t noticeCopies = 0;
    };

    // RedundantClient.cpp
    void MakeLinks(std::size_t count);
    void StartOnLoop();
    void Shutdown();
    void ReleaseLinks();
    // RedundantRequests.cpp
    int SendList(ListKind kind, char* ids[], int count);
    void SubscribeOwn(int link);
    void LoginOwn(int link);
    // RedundantEvents.cpp
    void DeliverReleased();
    // Calls the application, when it is still to be called; an exception
    // out of it is contained and logged (CallbackFaults.h).
    template <class F>
    void ToApplication(CallbackFaults::Callback which, F call);

    // A client inherited across fork() belongs to the parent's loop and may
    // find its session lock held for good: it stays inert in the child.
    bool Inherited() const { return Kelvo_LOOP_Generation() != generation_; }

    const unsigned int generation_ = Kelvo_LOOP_Generation();
    const int wanted_;
    const ClientFactory factory_;
    std::unique_ptr<Kelvo_Log> logger_;

    // Before Init: the fronts registered; after it, how many were dealt.
    std::vector<std::string> fronts_;
    std::size_t dealt_ = 0;
    bool started_ = false;
    std::vector<Link> links_; // made by Init, fixed from then on

    // The session lock: everything application threads and the loop share.
    std::mutex mu_;
    std::unique_ptr<LinkBoard> board_;
    std::unique_ptr<ResponseMerge> responses_;
    LoginMerge logins_;
    SessionMemory session_;
    bool awaitingLogin_ = false; // after a total loss, until the application logs in

    // Loop thread only.
    CThostFtdcMdSpi* spi_ = nullptr;
    bool released_ = false;
    DepthArbiter arbiter_;
    ForQuoteWindow quotes_;
    CallbackFaults faults_{*this};
    std::unique_ptr<MinuteTimer> timer_;
};

} // namespace mdlink
