// What the links' inner clients and the client's timers tell the redundant
// client, on the loop thread, and what of it reaches the application.
//
// Each handler settles the shared state under the session lock first and
// calls the application after, without the lock (Tell): an application
// callback may make requests (they take the lock) or Release the client
// (then nothing more reaches it). An exception out of the application's
// callback stops at that call (CallbackFaults.h).
#include "RedundantClient.h"

#include "LinkSpi.h"
#include "RedundantTimer.h"

#include "ForcedUnwind.h"

#include <cstdarg>
#include <cstdio>
#include <exception>

namespace mdlink {

namespace {

constexpr int ReasonDisConnect = 0x2001; // as the single client reports a lost link
constexpr std::uint32_t WarnEveryMs = 60 * 1000;

const char* KindName(ListKind kind)
{
    static const char* const names[] = {"SubscribeMarketData", "UnSubscribeMarketData",
                                        "SubscribeForQuoteRsp", "UnSubscribeForQuoteRsp"};
    return names[static_cast<int>(kind)];
}

bool Reached(std::uint32_t now, std::uint32_t due)
{
    return static_cast<std::int32_t>(now - due) >= 0;
}

} // namespace

template <class F>
void CRedundantMdClient::ToApplication(CallbackFaults::Callback which, F call)
{
    if (released_ || !spi_)
        return;
    try {
        call(*spi_);
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (const std::exception& e)
    {
        faults_.Threw(which, e.what());
    }
    catch (...)
    {
        faults_.Threw(which, nullptr);
    }
}

int CRedundantMdClient::Count(State atLeast) const
{
    int n = 0;
    for (const Link& l : links_)
        n += l.state == State::Usable || (atLeast == State::Connected && l.state == State::Connected);
    return n;
}

// A warning at most once a minute per link.
void CRedundantMdClient::Warn(Link& l, std::uint32_t now, const char* format, ...)
{
    if (l.warned && !Reached(now, l.warnedMs + WarnEveryMs))
        return;
    l.warned = true;
    l.warnedMs = now;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    WriteLog(LogWarning, "Link", "%s", text);
}

// After any change of a link's state: whether the application is to hear
// that it has nothing any more.
void CRedundantMdClient::Evaluate(int link, int reason, Tells& tells)
{
    if (round_ != 0 && !logins_.Unanswered(round_))
        round_ = 0;
    if (established_) {
        if (Count(State::Usable) > 0)
            return;
        // A total loss: the application starts its session again, from
        // connections as new as a single client's would be.
        established_ = false;
        toldConnected_ = false;
        round_ = 0;
        reporter_ = link;
        session_.ForgetSubscriptions();
        tells.disconnected = true;
        tells.reason = reason;
        tells.forget = true;
        const std::uint32_t now = clockMs_;
        for (std::size_t k = 0; k < links_.size(); ++k)
            if (links_[k].state == State::Connected)
                Recycle(static_cast<int>(k), now, false, tells);
        WriteLog(LogWarning, "Link", "no link usable: the application is told (0x%x)",
                 static_cast<unsigned>(reason));
        return;
    }
    if (toldConnected_ && round_ == 0 && Count(State::Connected) == 0) {
        toldConnected_ = false;
        reporter_ = link;
        tells.disconnected = true;
        tells.reason = reason;
    }
}

// Closes the link's connection; it connects again once its delay is over
// (doubled after each failed login, from RedundantReconnectMs).
void CRedundantMdClient::Recycle(int link, std::uint32_t now, bool failed, Tells& tells)
{
    Link& l = links_[static_cast<std::size_t>(link)];
    responses_->LinkLost(link);
    for (LoginResponse& r : logins_.LinkLost(link))
        tells.logins.push_back(r);
    if (l.inner)
        l.inner->Release(); // on the loop: closed at once
    l.inner = nullptr;
    l.state = State::Waiting;
    l.loginOut = false;
    std::uint32_t delay = RedundantReconnectMs;
    if (failed) {
        delay = l.delayMs != 0 ? l.delayMs : static_cast<std::uint32_t>(RedundantReconnectMs);
        l.delayMs = delay * 2 < RedundantMaxReconnectMs ? delay * 2
                                                        : static_cast<std::uint32_t>(RedundantMaxReconnectMs);
    }
    l.reconnectMs = now + delay;
    tells.linksDown.push_back(link);
}

// A new client for the link, on its fronts, as the first was made.
void CRedundantMdClient::Reconnect(int link)
{
    Link& l = links_[static_cast<std::size_t>(link)];
    CThostFtdcMdApi* inner = nullptr;
    try {
        inner = factory_ ? factory_(link) : nullptr;
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...)
    {
        inner = nullptr;
    }
    std::vector<std::string> fronts;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!inner) {
            l.reconnectMs = clockMs_ + RedundantReconnectMs; // try again later
            return;
        }
        fronts = l.frontList;
    }
    inner->RegisterSpi(l.spi.get());
    for (std::string& f : fronts)
        inner->RegisterFront(&f[0]);
    {
        std::lock_guard<std::mutex> lock(mu_);
        l.inner = inner;
        l.state = State::Connecting;
    }
    WriteLog(LogInfo, "Link", "link %d [%s]: connecting again", link, l.fronts.c_str());
    inner->Init();
}

void CRedundantMdClient::Tell(Tells& tells)
{
    if (released_)
        return;
    for (int k : tells.linksDown)
        arbiter_.LinkDown(k);
    if (tells.forget)
        arbiter_.Forget();
    // What joining links held waiting for a lost one goes now.
    DeliverReleased();
    if (tells.connected)
        ToApplication(CallbackFaults::FrontConnected, [](CThostFtdcMdSpi& spi) { spi.OnFrontConnected(); });
    for (LoginResponse& r : tells.logins)
        ToApplication(CallbackFaults::RspUserLogin, [&r](CThostFtdcMdSpi& spi) {
            spi.OnRspUserLogin(&r.login, r.hasInfo ? &r.info : nullptr, r.requestId, r.isLast);
        });
    if (tells.disconnected)
        ToApplication(CallbackFaults::FrontDisconnected,
                      [&tells](CThostFtdcMdSpi& spi) { spi.OnFrontDisconnected(tells.reason); });
    for (const Tells::Watch& w : tells.watch) {
        if (released_ || !watcher_)
            break;
        const char* fronts = links_[static_cast<std::size_t>(w.link)].fronts.c_str();
        try {
            if (w.up)
                watcher_->OnLinkUp(w.link, fronts);
            else
                watcher_->OnLinkDown(w.link, fronts, w.reason);
        }
        KELVO_LET_FORCED_UNWIND_THROUGH
        catch (...)
        {
            // The watcher's fault is not the link's.
        }
    }
}

void CRedundantMdClient::LinkConnected(int link)
{
    Tells tells;
    {
        std::lock_guard<std::mutex> lock(mu_);
        Link& l = links_[static_cast<std::size_t>(link)];
        l.state = State::Connected;
        l.loginOut = false;
        ++l.connects;
        WriteLog(LogInfo, "Link", "link %d [%s] connected, %d of %d links usable", link, l.fronts.c_str(),
                 Count(State::Usable), static_cast<int>(links_.size()));
        if (!established_ && !toldConnected_) {
            // The application logs in from its callback.
            toldConnected_ = true;
            tells.connected = true;
        } else {
            LoginOwn(link, clockMs_);
        }
    }
    Tell(tells);
}

void CRedundantMdClient::LinkDisconnected(int link, int reason)
{
    Tells tells;
    {
        std::lock_guard<std::mutex> lock(mu_);
        Link& l = links_[static_cast<std::size_t>(link)];
        if (l.state == State::Connecting || l.state == State::Waiting) {
            // A failed attempt: heard as the single client's are, by one link.
            const bool report = !toldConnected_ && !established_ && link == reporter_;
            WriteLog(LogInfo, "Link", "link %d [%s]: connection attempt failed (%d)%s", link,
                     l.fronts.c_str(), reason, report ? ", reported" : "");
            if (report) {
                tells.disconnected = true;
                tells.reason = reason;
            }
        } else {
            const bool wasUsable = l.state == State::Usable;
            l.state = State::Connecting;
            l.loginOut = false;
            l.lostOnce = true;
            ++l.losses;
            responses_->LinkLost(link);
            for (LoginResponse& r : logins_.LinkLost(link))
                tells.logins.push_back(r);
            tells.linksDown.push_back(link);
            if (wasUsable)
                tells.watch.push_back({link, false, reason});
            WriteLog(LogWarning, "Link", "link %d [%s] lost (0x%x), %d of %d links usable", link,
                     l.fronts.c_str(), static_cast<unsigned>(reason), Count(State::Usable),
                     static_cast<int>(links_.size()));
            Evaluate(link, reason, tells);
        }
    }
    Tell(tells);
}

void CRedundantMdClient::LinkLogin(int link, CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info,
                                   int requestId, bool isLast)
{
    LoginResponse answer;
    if (login)
        answer.login = *login;
    answer.hasInfo = info != nullptr;
    if (info)
        answer.info = *info;
    answer.requestId = requestId;
    answer.isLast = isLast;
    Tells tells;
    {
        std::lock_guard<std::mutex> lock(mu_);
        const std::uint32_t now = clockMs_;
        Link& l = links_[static_cast<std::size_t>(link)];
        l.loginOut = false;
        LoginResponse out;
        const LoginMerge::What what = logins_.Take(link, answer, out);
        if (what == LoginMerge::What::Deliver)
            tells.logins.push_back(out);
        static const char* const whose[] = {"", ", held until the other links answer",
                                            ", after the application had its answer", "", ", not asked for"};
        if (what != LoginMerge::What::Deliver)
            WriteLog(LogInfo, "Login", "link %d: login %s%s (%d %s)", link,
                     answer.Ok() ? "accepted" : "refused", whose[static_cast<int>(what)], answer.info.ErrorID,
                     answer.info.ErrorMsg);
        if (answer.Ok()) {
            if (what == LoginMerge::What::Deliver)
                established_ = true;
            // Before the application's login was accepted a link's own is
            // not its session: the application logs in again.
            if (l.state == State::Connected && established_ && what != LoginMerge::What::Unexpected) {
                l.state = State::Usable;
                l.delayMs = 0;
                SubscribeOwn(link);
                tells.watch.push_back({link, true, 0});
                if (l.lostOnce)
                    WriteLog(LogWarning, "Link", "link %d [%s] back, %d of %d links usable", link,
                             l.fronts.c_str(), Count(State::Usable), static_cast<int>(links_.size()));
            }
        } else if (l.state == State::Connected || l.state == State::Usable) {
            ++l.refused;
            const std::uint32_t delay =
                l.delayMs != 0 ? l.delayMs : static_cast<std::uint32_t>(RedundantReconnectMs);
            Warn(l, now, "link %d [%s]: login refused (%d %s): closed, connecting again in %u ms", link,
                 l.fronts.c_str(), answer.info.ErrorID, answer.info.ErrorMsg, delay);
            if (l.state == State::Usable)
                tells.watch.push_back({link, false, RedundantLoginRefused});
            Recycle(link, now, true, tells);
        }
        Evaluate(link, ReasonDisConnect, tells);
    }
    Tell(tells);
}

void CRedundantMdClient::OnWatch()
{
    if (released_)
        return;
    PublishFigures();
    Tells tells;
    std::vector<int> reconnect;
    {
        std::lock_guard<std::mutex> lock(mu_);
        clockMs_ += WatchMs;
        const std::uint32_t now = clockMs_;
        for (std::size_t k = 0; k < links_.size(); ++k) {
            Link& l = links_[k];
            const int link = static_cast<int>(k);
            if (l.state == State::Waiting && Reached(now, l.reconnectMs)) {
                reconnect.push_back(link);
            } else if (l.state == State::Connected && l.loginOut && Reached(now, l.loginDueMs)) {
                ++l.timeouts;
                const std::uint32_t delay =
                    l.delayMs != 0 ? l.delayMs : static_cast<std::uint32_t>(RedundantReconnectMs);
                Warn(l, now, "link %d [%s]: login not answered in %d ms: closed, connecting again in %u ms",
                     link, l.fronts.c_str(), static_cast<int>(RedundantLoginTimeoutMs), delay);
                Recycle(link, now, true, tells);
                Evaluate(link, ReasonDisConnect, tells);
            }
        }
        if (round_ != 0 && Reached(now, roundDueMs_)) {
            LoginResponse out;
            if (logins_.Expire(round_, out))
                tells.logins.push_back(out);
            round_ = 0;
            Evaluate(reporter_, ReasonDisConnect, tells);
        }
    }
    for (int link : reconnect)
        Reconnect(link);
    watch_->Arm(WatchMs);
    Tell(tells);
}

void CRedundantMdClient::LinkResponse(int link, ListKind kind, CThostFtdcSpecificInstrumentField* instrument,
                                      CThostFtdcRspInfoField* info, int requestId, bool)
{
    ResponseMerge::Answer a;
    {
        std::lock_guard<std::mutex> lock(mu_);
        a = responses_->Take(link, kind, instrument ? instrument->InstrumentID : "");
    }
    if (a.what == ResponseMerge::What::Own || a.what == ResponseMerge::What::Unexpected) {
        WriteLog(a.what == ResponseMerge::What::Own ? LogInfo : LogWarning, "Sub",
                 "link %d: %s [%s]%s: %d %s", link, KindName(kind),
                 instrument ? instrument->InstrumentID : "",
                 a.what == ResponseMerge::What::Own ? "" : " not asked for", info ? info->ErrorID : 0,
                 info ? info->ErrorMsg : "");
        return;
    }
    if (a.what != ResponseMerge::What::Deliver)
        return; // another link answered it first
    void (CThostFtdcMdSpi::*callback)(CThostFtdcSpecificInstrumentField*, CThostFtdcRspInfoField*, int,
                                      bool) = nullptr;
    CallbackFaults::Callback which = CallbackFaults::RspSubMarketData;
    switch (kind) {
    case ListKind::SubMarket: callback = &CThostFtdcMdSpi::OnRspSubMarketData; break;
    case ListKind::UnSubMarket:
        callback = &CThostFtdcMdSpi::OnRspUnSubMarketData;
        which = CallbackFaults::RspUnSubMarketData;
        break;
    case ListKind::SubForQuote:
        callback = &CThostFtdcMdSpi::OnRspSubForQuoteRsp;
        which = CallbackFaults::RspSubForQuoteRsp;
        break;
    default:
        callback = &CThostFtdcMdSpi::OnRspUnSubForQuoteRsp;
        which = CallbackFaults::RspUnSubForQuoteRsp;
        break;
    }
    ToApplication(which,
                  [&](CThostFtdcMdSpi& spi) { (spi.*callback)(instrument, info, requestId, a.isLast); });
}

void CRedundantMdClient::LinkDepth(int link, CThostFtdcDepthMarketDataField* depth)
{
    if (released_)
        return;
    const DepthArbiter::Verdict v = arbiter_.Offer(link, *depth, Kelvo_THREAD_GetTickCount());
    if (v == DepthArbiter::Verdict::First)
        ToApplication(CallbackFaults::RtnDepthMarketData,
                      [depth](CThostFtdcMdSpi& spi) { spi.OnRtnDepthMarketData(depth); });
    if (arbiter_.HasReleased())
        DeliverReleased();
    if (v == DepthArbiter::Verdict::Held && !released_)
        ArmHold();
}

// The held records' timer, at the first one's due time.
void CRedundantMdClient::ArmHold()
{
    if (!arbiter_.Holding()) {
        hold_->Clear();
        return;
    }
    const std::uint32_t now = Kelvo_THREAD_GetTickCount();
    const std::uint32_t due = arbiter_.NextDueMs();
    hold_->Arm(Reached(now, due) ? 1 : due - now);
}

void CRedundantMdClient::OnHoldDue()
{
    if (released_)
        return;
    arbiter_.Expire(Kelvo_THREAD_GetTickCount());
    DeliverReleased();
    if (!released_)
        ArmHold();
}

void CRedundantMdClient::OnMinute()
{
    WriteCounters("minute");
    minute_->Arm(60 * 1000);
}

// Records a joining link held, let go after the record just delivered.
void CRedundantMdClient::DeliverReleased()
{
    while (const CThostFtdcDepthMarketDataField* r = arbiter_.NextReleased()) {
        CThostFtdcDepthMarketDataField record = *r;
        ToApplication(CallbackFaults::RtnDepthMarketData,
                      [&record](CThostFtdcMdSpi& spi) { spi.OnRtnDepthMarketData(&record); });
    }
}

void CRedundantMdClient::Note(Kind kind, int link, const char* instrument, std::uint64_t count)
{
    switch (kind) {
    case Kind::SteppedBack:
        WriteLog(LogWarning, "Depth",
                 "link %d: %s went back in time on the link that leads it: delivered, followed", link,
                 instrument);
        break;
    case Kind::Followed:
        WriteLog(
            LogWarning, "Depth",
            "link %d: %s: only older records for %u ms while nothing was delivered: followed from now on",
            link, instrument, DepthArbiter::FollowMs);
        break;
    case Kind::DroppedOlder:
        WriteLog(LogWarning, "Depth", "link %d: %s: %llu records older than the last delivered dropped", link,
                 instrument, static_cast<unsigned long long>(count));
        break;
    }
}

void CRedundantMdClient::LinkForQuote(int link, CThostFtdcForQuoteRspField* notice)
{
    if (released_)
        return;
    Link& l = links_[static_cast<std::size_t>(link)];
    if (!quotes_.Admit(*notice)) {
        ++l.noticeCopies;
        return;
    }
    ++l.noticesFirst;
    ToApplication(CallbackFaults::RtnForQuoteRsp,
                  [notice](CThostFtdcMdSpi& spi) { spi.OnRtnForQuoteRsp(notice); });
}

} // namespace mdlink
