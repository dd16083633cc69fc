#include "RedundantSupport.h"

#include <cstdio>

namespace test {

namespace {

// The links the factory made for the current test, owned here so that a
// test can look at them after Release.
std::vector<std::unique_ptr<FakeLink>>& Made()
{
    static std::vector<std::unique_ptr<FakeLink>> made;
    return made;
}

CThostFtdcMdApi* MakeLink()
{
    Made().push_back(std::make_unique<FakeLink>());
    return Made().back().get();
}

} // namespace

int FakeLink::ReqUserLogin(CThostFtdcReqUserLoginField* req, int requestId)
{
    requests.push_back("login " + std::string(req ? req->UserID : "-") + " " + std::to_string(requestId));
    return result;
}

int FakeLink::Keep(const char* what, char* ids[], int n)
{
    std::string line = what;
    for (int i = 0; i < n; ++i)
        line += (i ? "," : " ") + std::string(ids[i]);
    requests.push_back(line);
    return result;
}

void RedundantFixture::SetUp()
{
    Made().clear();
}

void RedundantFixture::TearDown()
{
    if (api)
        api->Release();
    fake::World::Get().RunPosted();
}

void RedundantFixture::Start(int links, int fronts)
{
    redundant = mdlink::CRedundantMdApi::Create(links, &MakeLink);
    api = redundant;
    api->RegisterSpi(&spi);
    for (int f = 1; f <= fronts; ++f) {
        std::string address = "tcp://10.0.0." + std::to_string(f) + ":7000";
        api->RegisterFront(&address[0]);
    }
    api->Init();
    links_ = static_cast<int>(Made().size());
    seen_.clear();
}

// A link closed and connecting again has a new client: the newest one
// that calls back to the link's callback object.
FakeLink& RedundantFixture::Link(int k)
{
    CThostFtdcMdSpi* linkSpi = Made()[static_cast<std::size_t>(k)]->spi;
    for (auto it = Made().rbegin(); it != Made().rend(); ++it)
        if ((*it)->spi == linkSpi)
            return **it;
    return *Made()[static_cast<std::size_t>(k)];
}

int RedundantFixture::Links() const
{
    return links_;
}

int RedundantFixture::Clients() const
{
    return static_cast<int>(Made().size());
}

void RedundantFixture::LoginAnswer(int k, int error, int requestId)
{
    CThostFtdcRspUserLoginField login{};
    std::snprintf(login.UserID, sizeof login.UserID, "link%d", k);
    CThostFtdcRspInfoField info = RspInfo(error, error ? "refused" : "ok");
    fake::InLoop([&] { Link(k).spi->OnRspUserLogin(&login, &info, requestId, true); });
}

void RedundantFixture::SubAnswer(int k, const char* id, int error, int requestId)
{
    CThostFtdcSpecificInstrumentField instrument{};
    std::snprintf(instrument.InstrumentID, sizeof instrument.InstrumentID, "%s", id);
    CThostFtdcRspInfoField info = RspInfo(error, error ? "no such" : "ok");
    fake::InLoop([&] { Link(k).spi->OnRspSubMarketData(&instrument, &info, requestId, true); });
}

void RedundantFixture::Notice(int k, const char* sysId)
{
    CThostFtdcForQuoteRspField q{};
    std::snprintf(q.InstrumentID, sizeof q.InstrumentID, "au2612");
    std::snprintf(q.ExchangeID, sizeof q.ExchangeID, "SHFE");
    std::snprintf(q.ForQuoteSysID, sizeof q.ForQuoteSysID, "%s", sysId);
    fake::InLoop([&] { Link(k).spi->OnRtnForQuoteRsp(&q); });
}

int RedundantFixture::AppLogin(int requestId, const char* user)
{
    CThostFtdcReqUserLoginField req{};
    std::snprintf(req.UserID, sizeof req.UserID, "%s", user);
    return api->ReqUserLogin(&req, requestId);
}

int RedundantFixture::AppSubscribe(std::vector<std::string> ids)
{
    std::vector<char*> ptrs;
    for (std::string& id : ids)
        ptrs.push_back(&id[0]);
    return api->SubscribeMarketData(ptrs.data(), static_cast<int>(ptrs.size()));
}

std::vector<std::string> RedundantFixture::NewRequests(int k)
{
    const std::vector<std::string>& all = Link(k).requests;
    std::size_t& seen = seen_[&Link(k)];
    std::vector<std::string> out(all.begin() + static_cast<long>(seen), all.end());
    seen = all.size();
    return out;
}

CThostFtdcDepthMarketDataField Record(const char* id, const char* time, int millis, int volume, double price,
                                      const char* day)
{
    CThostFtdcDepthMarketDataField d{};
    std::snprintf(d.InstrumentID, sizeof d.InstrumentID, "%s", id);
    std::snprintf(d.TradingDay, sizeof d.TradingDay, "%s", day);
    std::snprintf(d.UpdateTime, sizeof d.UpdateTime, "%s", time);
    d.UpdateMillisec = millis;
    d.Volume = volume;
    d.LastPrice = price;
    return d;
}

} // namespace test
