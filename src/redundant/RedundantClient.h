// CRedundantMdClient: the published CThostFtdcMdApi over N inner clients,
// one link each, holding different fronts at the same time.
//
//   application threads          loop thread (every inner client's callbacks)
//   -------------------          --------------------------------------------
//   RegisterSpi/Front, Init      LinkSpi k --> Link* handlers (RedundantEvents.cpp)
//   ReqUserLogin, Subscribe...     depth     --> DepthArbiter --> application, first copy only
//     under the session lock:      for-quote --> ForQuoteWindow --> application
//     remember, send on links      responses --> Login/ResponseMerge (session lock)
//   Release, GetLinkCounters       link states, login rounds (session lock)
//     carried onto the loop        timers: watch (deadlines, reconnections), hold, minute
//
// What the application sees, the published interface otherwise unchanged:
// - Fronts are dealt to links at Init like cards: with F fronts and N links,
//   link i holds fronts i, i + N, i + 2N, ... (F < N: F links, logged), and
//   fails over among its own only, so no two links ever hold one front.
//   Fronts registered after Init go to the links in turn.
// - A link is connecting, connected (its connection is up), usable (logged
//   in and subscribed again) or waiting (closed after a refused or
//   unanswered login, connecting again after a delay that doubles).
// - Connected means usable. Before the application's first login, and after
//   a total loss, OnFrontConnected comes on the first link's connection (the
//   application logs in from it). Once its login was accepted the
//   application hears OnFrontDisconnected as soon as no link is usable, and
//   every link still connected is closed to start again from a clean slate,
//   as a single client's connection is; before that, once no link is
//   connected and no login round waits for one.
// - Login: the application's login is a round (LoginMerge.h) over every
//   link, sent on each as it is connected, until the first success or
//   RedundantLoginTimeoutMs; after its first success the kept copy logs in
//   every link that connects. A refused or unanswered login closes the link
//   (a warning at most once a minute per link).
// - Subscriptions go to every usable link (every connected link when none
//   is usable) and are remembered, minus unsubscriptions, when they went out
//   on one; a link that logs in later is subscribed by the redundant client
//   itself. They are forgotten at a total loss, when the application
//   subscribes again as it would on a single client. Responses: once per
//   instrument and call (ResponseMerge.h); those to the client's own
//   re-subscriptions are logged. Requests return 0 when sent on at least one
//   link, else -1.
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
#include "LoginMerge.h"
#include "RedundantMdApi.h"
#include "ResponseMerge.h"
#include "SessionMemory.h"

#include "KelvoBase.h"
#include "log/LogRecord.h"
#include "metrics/RedundantFigures.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mdlink {

class LinkSpi;
class RedundantTimer;

class CRedundantMdClient final : public CRedundantMdApi, private ArbiterNotes {
public:
    CRedundantMdClient(int links, LinkFactory factory);

    // How often the links' login deadlines and reconnection delays are looked at.
    static constexpr unsigned int WatchMs = 250;

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
    void RegisterLinkWatcher(RedundantLinkWatcher* watcher) override;

    // The links' callbacks, on the loop thread (RedundantEvents.cpp).
    void LinkConnected(int link);
    void LinkDisconnected(int link, int reason);
    void LinkLogin(int link, CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int requestId,
                   bool isLast);
    void LinkResponse(int link, ListKind kind, CThostFtdcSpecificInstrumentField* instrument,
                      CThostFtdcRspInfoField* info, int requestId, bool isLast);
    void LinkDepth(int link, CThostFtdcDepthMarketDataField* depth);
    void LinkForQuote(int link, CThostFtdcForQuoteRspField* notice);

    // Timers, on the loop.
    void OnMinute();
    void OnWatch();
    void OnHoldDue();

    // Once a minute on the loop, and at Release (RedundantLog.cpp).
    void WriteCounters(const char* when);
    // The cells the metrics page reads this client's arbiter figures from,
    // given before Init; copied in by the watch timer, not per record.
    void UseFigures(std::shared_ptr<metrics::RedundantFigures> figures) { figures_ = std::move(figures); }
    void PublishFigures();
    void WriteLog(int level, const char* tag, const char* format, ...) KELVO_PRINTF(4, 5);

private:
    ~CRedundantMdClient();

    enum class State { Connecting, Connected, Usable, Waiting };

    struct Link {
        CThostFtdcMdApi* inner = nullptr; // null while waiting
        std::unique_ptr<LinkSpi> spi;
        std::vector<std::string> frontList;
        std::string fronts; // blank-separated, for log records
        // Under the session lock.
        State state = State::Connecting;
        std::uint32_t loginDueMs = 0; // a login out on it must be answered by then
        bool loginOut = false;
        std::uint32_t reconnectMs = 0; // waiting: connects again then
        std::uint32_t delayMs = 0;     // the next wait; 0: RedundantReconnectMs
        std::uint32_t warnedMs = 0;
        bool warned = false;
        bool lostOnce = false;
        std::uint64_t connects = 0;
        std::uint64_t losses = 0;
        std::uint64_t refused = 0;
        std::uint64_t timeouts = 0;
        // Loop thread.
        std::uint64_t noticesFirst = 0;
        std::uint64_t noticeCopies = 0;
    };

    // What a handler tells the application (and the watcher) once it has
    // left the session lock, in order.
    struct Tells {
        bool connected = false;
        bool disconnected = false;
        int reason = 0;
        std::vector<LoginResponse> logins;
        struct Watch {
            int link;
            bool up;
            int reason;
        };
        std::vector<Watch> watch;
        std::vector<int> linksDown; // for the arbiter
        bool forget = false;        // a total loss: the order starts again
    };

    static const char* StateName(State state);
    // RedundantClient.cpp
    void MakeLinks(std::size_t count);
    void StartOnLoop();
    void Shutdown();
    void ReleaseLinks();
    // RedundantRequests.cpp
    int SendList(ListKind kind, char* ids[], int count);
    void SubscribeOwn(int link);
    void LoginOwn(int link, std::uint32_t now);
    // RedundantEvents.cpp
    int Count(State at_least) const;
    void Evaluate(int link, int reason, Tells& tells);
    void Recycle(int link, std::uint32_t now, bool failed, Tells& tells);
    void Reconnect(int link);
    void Warn(Link& l, std::uint32_t now, const char* format, ...) KELVO_PRINTF(4, 5);
    void Tell(Tells& tells);
    void ArmHold();
    void DeliverReleased();
    void Note(Kind kind, int link, const char* instrument, std::uint64_t count) override;
    // Calls the application, when it is still to be called; an exception
    // out of it is contained and logged (CallbackFaults.h).
    template <class F>
    void ToApplication(CallbackFaults::Callback which, F call);

    // A client inherited across fork() belongs to the parent's loop and may
    // find its session lock held for good: it stays inert in the child.
    bool Inherited() const { return Kelvo_LOOP_Generation() != generation_; }

    const unsigned int generation_ = Kelvo_LOOP_Generation();
    const int wanted_;
    const LinkFactory factory_;
    std::unique_ptr<Kelvo_Log> logger_;

    // Before Init: the fronts registered; after it, how many were dealt.
    std::vector<std::string> fronts_;
    std::size_t dealt_ = 0;
    bool started_ = false;
    std::vector<Link> links_; // made by Init, fixed from then on

    // The session lock: everything application threads and the loop share.
    std::mutex mu_;
    std::unique_ptr<ResponseMerge> responses_;
    LoginMerge logins_;
    SessionMemory session_;
    bool toldConnected_ = false; // the application last heard OnFrontConnected
    bool established_ = false;   // its login was accepted; a link usable since
    std::uint64_t round_ = 0;    // its login round, while unanswered
    std::uint32_t roundDueMs_ = 0;
    int reporter_ = 0; // whose failed attempts it hears while disconnected
    // Time for login deadlines and reconnection delays: WatchMs a watch, so
    // that it runs at the base layer's pace (a time-scaled one's in tests).
    std::uint32_t clockMs_ = 0;

    // Loop thread only.
    CThostFtdcMdSpi* spi_ = nullptr;
    RedundantLinkWatcher* watcher_ = nullptr;
    bool released_ = false;
    DepthArbiter arbiter_;
    ForQuoteWindow quotes_;
    CallbackFaults faults_{*this};
    std::unique_ptr<RedundantTimer> minute_;
    std::unique_ptr<RedundantTimer> watch_;
    std::unique_ptr<RedundantTimer> hold_;
    std::shared_ptr<metrics::RedundantFigures> figures_; // null: none asked for
};

} // namespace mdlink
