// What the links' inner clients tell the redundant client, on the loop
// thread, and what of it reaches the application.
//
// Each handler settles the shared state under the session lock first and
// calls the application after, without the lock: an application callback
// may make requests (they take the lock) or Release the client (then
// nothing more reaches it). An exception out of the application's callback
// stops at that call (CallbackFaults.h).
#include "RedundantClient.h"

#include "ForcedUnwind.h"

#include <exception>

namespace mdlink {

namespace {

const char* KindName(ListKind kind)
{
    static const char* const names[] = {"SubscribeMarketData", "UnSubscribeMarketData",
                                        "SubscribeForQuoteRsp", "UnSubscribeForQuoteRsp"};
    return names[static_cast<int>(kind)];
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
    catch (const std::exception& e) {
        faults_.Threw(which, e.what());
    } catch (...) {
        faults_.Threw(which, nullptr);
    }
}

void CRedundantMdClient::LinkConnected(int link)
{
    LinkBoard::Tell tell = LinkBoard::Tell::Nothing;
    {
        std::lock_guard<std::mutex> lock(mu_);
        Link& l = links_[static_cast<std::size_t>(link)];
        tell = board_->Up(link);
        ++l.connects;
        l.loggedIn = false;
        WriteLog(3, "Link", "link %d [%s] up, %d of %d links up", link, l.fronts.c_str(),
                 board_->UpCount(), board_->Links());
        // The first link up after none is the application's to log in.
        if (tell == LinkBoard::Tell::Nothing)
            LoginOwn(link);
    }
    if (tell == LinkBoard::Tell::Connected)
        ToApplication(CallbackFaults::FrontConnected, [](CThostFtdcMdSpi& spi) { spi.OnFrontConnected(); });
}

void CRedundantMdClient::LinkDisconnected(int link, int reason)
{
    LinkBoard::Tell tell = LinkBoard::Tell::Nothing;
    std::vector<LoginResponse> settled;
    bool wasUp = false;
    {
        std::lock_guard<std::mutex> lock(mu_);
        Link& l = links_[static_cast<std::size_t>(link)];
        tell = board_->Down(link, wasUp);
        if (!wasUp) {
            WriteLog(3, "Link", "link %d [%s]: connection attempt failed (%d)%s", link,
                     l.fronts.c_str(), reason,
                     tell == LinkBoard::Tell::Disconnected ? ", reported" : "");
        } else {
            ++l.losses;
            l.loggedIn = false;
            responses_->LinkLost(link);
            settled = logins_.LinkLost(link);
            WriteLog(3, "Link", "link %d [%s] lost (0x%x), %d of %d links up", link,
                     l.fronts.c_str(), static_cast<unsigned>(reason), board_->UpCount(),
                     board_->Links());
            if (board_->UpCount() == 0) {
                // The application hears of it and starts its session again.
                awaitingLogin_ = true;
                session_.ForgetSubscriptions();
            }
        }
    }
    if (wasUp && !released_) {
        // What joining links held waiting for this one goes now.
        arbiter_.LinkDown(link);
        DeliverReleased();
    }
    for (LoginResponse& r : settled)
        ToApplication(CallbackFaults::RspUserLogin, [&r](CThostFtdcMdSpi& spi) {
            spi.OnRspUserLogin(&r.login, r.hasInfo ? &r.info : nullptr, r.requestId, r.isLast);
        });
    if (tell == LinkBoard::Tell::Disconnected)
        ToApplication(CallbackFaults::FrontDisconnected,
                      [reason](CThostFtdcMdSpi& spi) { spi.OnFrontDisconnected(reason); });
}

void CRedundantMdClient::LinkLogin(int link, CThostFtdcRspUserLoginField* login,
                                   CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    LoginResponse answer;
    if (login)
        answer.login = *login;
    answer.hasInfo = info != nullptr;
    if (info)
        answer.info = *info;
    answer.requestId = requestId;
    answer.isLast = isLast;
    LoginResponse out;
    LoginMerge::What what = LoginMerge::What::Unexpected;
    {
        std::lock_guard<std::mutex> lock(mu_);
        Link& l = links_[static_cast<std::size_t>(link)];
        what = logins_.Take(link, answer, out);
        if (answer.Ok() && !l.loggedIn && board_->IsUp(link)) {
            l.loggedIn = true;
            SubscribeOwn(link);
        }
        static const char* const whose[] = {"", ", held until the other links answer",
                                            ", after the application had its answer", "",
                                            ", not asked for"};
        if (what != LoginMerge::What::Deliver)
            WriteLog(3, "Login", "link %d: login %s%s (%d %s)", link,
                     answer.Ok() ? "accepted" : "refused", whose[static_cast<int>(what)],
                     answer.info.ErrorID, answer.info.ErrorMsg);
    }
    if (what == LoginMerge::What::Deliver)
        ToApplication(CallbackFaults::RspUserLogin, [&out](CThostFtdcMdSpi& spi) {
            spi.OnRspUserLogin(&out.login, out.hasInfo ? &out.info : nullptr, out.requestId,
                               out.isLast);
        });
}

void CRedundantMdClient::LinkResponse(int link, ListKind kind,
                                      CThostFtdcSpecificInstrumentField* instrument,
                                      CThostFtdcRspInfoField* info, int requestId, bool)
{
    ResponseMerge::Answer a;
    {
        std::lock_guard<std::mutex> lock(mu_);
        a = responses_->Take(link, kind);
    }
    if (a.what == ResponseMerge::What::Own || a.what == ResponseMerge::What::Unexpected) {
        WriteLog(a.what == ResponseMerge::What::Own ? 3 : 2, "Sub", "link %d: %s [%s]%s: %d %s",
                 link, KindName(kind), instrument ? instrument->InstrumentID : "",
                 a.what == ResponseMerge::What::Own ? "" : " not asked for",
                 info ? info->ErrorID : 0, info ? info->ErrorMsg : "");
        return;
    }
    if (a.what != ResponseMerge::What::Deliver)
        return; // another link answered it first
    void (CThostFtdcMdSpi::*callback)(CThostFtdcSpecificInstrumentField*, CThostFtdcRspInfoField*,
                                      int, bool) = nullptr;
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
    ToApplication(which, [&](CThostFtdcMdSpi& spi) { (spi.*callback)(instrument, info, requestId, a.isLast); });
}

void CRedundantMdClient::LinkDepth(int link, CThostFtdcDepthMarketDataField* depth)
{
    if (released_)
        return;
    if (arbiter_.Offer(link, *depth) == DepthArbiter::Verdict::First)
        ToApplication(CallbackFaults::RtnDepthMarketData,
                      [depth](CThostFtdcMdSpi& spi) { spi.OnRtnDepthMarketData(depth); });
    if (arbiter_.HasReleased())
        DeliverReleased();
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
    ToApplication(CallbackFaults::RtnForQuoteRsp, [notice](CThostFtdcMdSpi& spi) { spi.OnRtnForQuoteRsp(notice); });
}

} // namespace mdlink
