// The application's requests, and the redundant client's own login and
// re-subscription of a link. Everything here runs under the session lock,
// so that what a link is sent, in what order, and what it is expected to
// answer always agree, whichever thread asks. Nothing here waits for the
// loop (an inner client's requests only queue their frames).
#include "RedundantClient.h"

#include "calls/Boundary.h"
#include "calls/ListArguments.h"

namespace mdlink {

namespace {

struct ListRequest {
    int (CThostFtdcMdApi::*send)(char*[], int);
    int resultForNone; // result of a call with a count of 0, as on the single client
    const char* name;
};

const ListRequest& RequestOf(ListKind kind)
{
    static const ListRequest requests[] = {
        {&CThostFtdcMdApi::SubscribeMarketData, -1, "SubscribeMarketData"},
        {&CThostFtdcMdApi::UnSubscribeMarketData, 0, "UnSubscribeMarketData"},
        {&CThostFtdcMdApi::SubscribeForQuoteRsp, -1, "SubscribeForQuoteRsp"},
        {&CThostFtdcMdApi::UnSubscribeForQuoteRsp, 0, "UnSubscribeForQuoteRsp"},
    };
    return requests[static_cast<int>(kind)];
}

} // namespace

int CRedundantMdClient::ReqUserLogin(CThostFtdcReqUserLoginField* pReqUserLoginField, int nRequestID)
{
    return AtBoundary(-1, [&] {
        if (Inherited())
            return -1;
        std::lock_guard<std::mutex> lock(mu_);
        const int links = static_cast<int>(links_.size());
        const std::uint64_t round = logins_.BeginRound();
        const std::uint32_t now = clockMs_;
        int sent = 0;
        for (int k = 0; k < links; ++k) {
            Link& l = links_[static_cast<std::size_t>(k)];
            if (l.state != State::Connected && l.state != State::Usable) {
                // Sent when it connects, while the round waits.
                logins_.Await(k, round);
                continue;
            }
            logins_.Expect(k, round);
            if (l.inner->ReqUserLogin(pReqUserLoginField, nRequestID) == 0) {
                ++sent;
                l.loginOut = true;
                l.loginDueMs = now + RedundantLoginTimeoutMs;
            } else {
                logins_.Withdraw(k);
            }
        }
        WriteLog(LogInfo, "Login", "ReqUserLogin: sent on %d of %d links", sent, links);
        if (sent == 0) {
            LoginResponse none;
            logins_.Expire(round, none);
            return -1;
        }
        session_.KeepLogin(pReqUserLoginField, nRequestID);
        round_ = round;
        roundDueMs_ = now + RedundantLoginTimeoutMs;
        return 0;
    });
}

int CRedundantMdClient::SubscribeMarketData(char* ppInstrumentID[], int nCount)
{
    return AtBoundary(-1, [&] { return SendList(ListKind::SubMarket, ppInstrumentID, nCount); });
}

int CRedundantMdClient::UnSubscribeMarketData(char* ppInstrumentID[], int nCount)
{
    return AtBoundary(-1, [&] { return SendList(ListKind::UnSubMarket, ppInstrumentID, nCount); });
}

int CRedundantMdClient::SubscribeForQuoteRsp(char* ppInstrumentID[], int nCount)
{
    return AtBoundary(-1, [&] { return SendList(ListKind::SubForQuote, ppInstrumentID, nCount); });
}

int CRedundantMdClient::UnSubscribeForQuoteRsp(char* ppInstrumentID[], int nCount)
{
    return AtBoundary(-1, [&] { return SendList(ListKind::UnSubForQuote, ppInstrumentID, nCount); });
}

// Sent to every usable link (every connected link when none is: the
// fronts answer as they would the single client), then remembered.
int CRedundantMdClient::SendList(ListKind kind, char* ids[], int count)
{
    const ListRequest& request = RequestOf(kind);
    if (const std::optional<int> refused = ListRefusal(ids, count, request.resultForNone))
        return *refused;
    if (Inherited())
        return -1;
    std::lock_guard<std::mutex> lock(mu_);
    const int links = static_cast<int>(links_.size());
    const State at = Count(State::Usable) > 0 ? State::Usable : State::Connected;
    const std::uint64_t call = responses_ ? responses_->BeginCall() : 0;
    int sent = 0;
    for (int k = 0; k < links; ++k) {
        Link& link = links_[static_cast<std::size_t>(k)];
        if (link.state != State::Usable && (at == State::Usable || link.state != State::Connected))
            continue;
        // A link that cannot send is going down: what it owes goes with it.
        responses_->Expect(k, kind, call, ids, count);
        if ((link.inner->*request.send)(ids, count) == 0)
            ++sent;
    }
    WriteLog(LogInfo, "Sub", "%s: %d ids, sent on %d of %d links", request.name, count, sent, links);
    // Only what went out is remembered: a link that logs in later must not
    // be subscribed to what the application was refused.
    if (sent > 0)
        session_.Apply(kind, ids, count);
    return sent > 0 ? 0 : -1;
}

// A link that has just logged in gets everything remembered.
void CRedundantMdClient::SubscribeOwn(int link)
{
    Link& l = links_[static_cast<std::size_t>(link)];
    if (!session_.Market().empty()) {
        IdList ids(session_.Market());
        responses_->Expect(link, ListKind::SubMarket, ResponseMerge::Own, ids.Ids(), ids.Count());
        l.inner->SubscribeMarketData(ids.Ids(), ids.Count());
    }
    if (!session_.ForQuote().empty()) {
        IdList ids(session_.ForQuote());
        responses_->Expect(link, ListKind::SubForQuote, ResponseMerge::Own, ids.Ids(), ids.Count());
        l.inner->SubscribeForQuoteRsp(ids.Ids(), ids.Count());
    }
    if (!session_.Empty())
        WriteLog(LogInfo, "Sub", "link %d subscribed again: %d ids, %d for-quote ids", link,
                 static_cast<int>(session_.Market().size()), static_cast<int>(session_.ForQuote().size()));
}

// A link that connects while the application's login round waits for it
// joins that round; one that connects once the application is logged in
// logs in with the kept copy.
void CRedundantMdClient::LoginOwn(int link, std::uint32_t now)
{
    if (!session_.HasLogin())
        return;
    std::uint64_t round = LoginMerge::Own;
    if (round_ != 0 && logins_.Awaits(link, round_))
        round = round_;
    else if (!established_)
        return;
    Link& l = links_[static_cast<std::size_t>(link)];
    logins_.Expect(link, round);
    const int r = l.inner->ReqUserLogin(session_.Login(), session_.LoginRequestId());
    if (r != 0) {
        logins_.Withdraw(link);
    } else {
        l.loginOut = true;
        l.loginDueMs = now + RedundantLoginTimeoutMs;
    }
    WriteLog(LogInfo, "Login", "link %d: login %s%s", link, r == 0 ? "sent" : "could not be sent",
             round == LoginMerge::Own ? "" : " (the application's)");
}

} // namespace mdlink
