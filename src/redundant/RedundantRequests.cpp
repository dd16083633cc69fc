// The application's requests, and the redundant client's own login and
// re-subscription of a link. Everything here runs under the session lock,
// so that what a link is sent, in what order, and what it is expected to
// answer always agree, whichever thread asks. Nothing here waits for the
// loop (an inner client's requests only queue their frames).
#include "RedundantClient.h"

#include "api/Boundary.h"
#include "api/ListArguments.h"

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
        const int links = board_ ? board_->Links() : 0;
        const std::uint64_t round = logins_.BeginRound();
        int sent = 0;
        for (int k = 0; k < links; ++k) {
            if (!board_->IsUp(k))
                continue;
            logins_.Expect(k, round);
            if (links_[static_cast<std::size_t>(k)].inner->ReqUserLogin(pReqUserLoginField, nRequestID) == 0)
                ++sent;
            else
                logins_.Withdraw(k);
        }
        WriteLog(3, "Login", "ReqUserLogin: sent on %d of %d links", sent, links);
        if (sent == 0)
            return -1;
        session_.KeepLogin(pReqUserLoginField, nRequestID);
        awaitingLogin_ = false;
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

// Remembered, then sent to every logged-in link (every link that is up when
// none is: the fronts answer as they would the single client).
int CRedundantMdClient::SendList(ListKind kind, char* ids[], int count)
{
    const ListRequest& request = RequestOf(kind);
    if (const std::optional<int> refused = ListRefusal(ids, count, request.resultForNone))
        return *refused;
    if (Inherited())
        return -1;
    std::lock_guard<std::mutex> lock(mu_);
    session_.Apply(kind, ids, count);
    const int links = board_ ? board_->Links() : 0;
    bool anyLoggedIn = false;
    for (int k = 0; k < links; ++k)
        anyLoggedIn = anyLoggedIn || (board_->IsUp(k) && links_[static_cast<std::size_t>(k)].loggedIn);
    const std::uint64_t call = responses_ ? responses_->BeginCall() : 0;
    int sent = 0;
    for (int k = 0; k < links; ++k) {
        Link& link = links_[static_cast<std::size_t>(k)];
        if (!board_->IsUp(k) || (anyLoggedIn && !link.loggedIn))
            continue;
        // A link that cannot send is going down: what it owes goes with it.
        responses_->Expect(k, kind, call, count);
        if ((link.inner->*request.send)(ids, count) == 0)
            ++sent;
    }
    WriteLog(3, "Sub", "%s: %d ids, sent on %d of %d links", request.name, count, sent, links);
    return sent > 0 ? 0 : -1;
}

// A link that has just logged in gets everything remembered.
void CRedundantMdClient::SubscribeOwn(int link)
{
    Link& l = links_[static_cast<std::size_t>(link)];
    if (!session_.Market().empty()) {
        IdList ids(session_.Market());
        responses_->Expect(link, ListKind::SubMarket, ResponseMerge::Own, ids.Count());
        l.inner->SubscribeMarketData(ids.Ids(), ids.Count());
    }
    if (!session_.ForQuote().empty()) {
        IdList ids(session_.ForQuote());
        responses_->Expect(link, ListKind::SubForQuote, ResponseMerge::Own, ids.Count());
        l.inner->SubscribeForQuoteRsp(ids.Ids(), ids.Count());
    }
    if (!session_.Empty())
        WriteLog(3, "Sub", "link %d subscribed again: %d ids, %d for-quote ids", link,
                 static_cast<int>(session_.Market().size()), static_cast<int>(session_.ForQuote().size()));
}

// A link that came up while another was up logs in with the kept copy.
void CRedundantMdClient::LoginOwn(int link)
{
    if (!session_.HasLogin() || awaitingLogin_)
        return;
    logins_.Expect(link, LoginMerge::Own);
    const int r = links_[static_cast<std::size_t>(link)].inner->ReqUserLogin(session_.Login(),
                                                                          session_.LoginRequestId());
    if (r != 0)
        logins_.Withdraw(link);
    WriteLog(3, "Login", "link %d: login %s", link, r == 0 ? "sent" : "could not be sent");
}

} // namespace mdlink
