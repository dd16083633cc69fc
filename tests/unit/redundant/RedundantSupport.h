// The redundant client on a fake pair (or more) of links: each inner client
// is a FakeLink, made by the client's factory, which records what it is
// asked and lets the test play its callbacks, on the fake loop.
#pragma once

#include "FakeBase.h"
#include "RedundantClient.h"
#include "TestSupport.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace test {

class FakeLink final : public CThostFtdcMdApi {
public:
    void Release() override { released = true; }
    void Init() override { ++inits; }
    int Join() override { return 0; }
    const char* GetTradingDay() override { return nullptr; }
    void RegisterFront(char* front) override { fronts.push_back(front); }
    void RegisterNameServer(char*) override {}
    void RegisterFensUserInfo(CThostFtdcFensUserInfoField*) override {}
    void RegisterSpi(CThostFtdcMdSpi* s) override { spi = s; }
    int SubscribeMarketData(char* ids[], int n) override { return Keep("sub", ids, n); }
    int UnSubscribeMarketData(char* ids[], int n) override { return Keep("unsub", ids, n); }
    int SubscribeForQuoteRsp(char* ids[], int n) override { return Keep("subfq", ids, n); }
    int UnSubscribeForQuoteRsp(char* ids[], int n) override { return Keep("unsubfq", ids, n); }
    int ReqUserLogin(CThostFtdcReqUserLoginField* req, int requestId) override;
    int ReqUserLogout(CThostFtdcUserLogoutField*, int) override { return 0; }
    int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField*, int) override { return 0; }

    CThostFtdcMdSpi* spi = nullptr;
    std::vector<std::string> fronts;
    int inits = 0;
    bool released = false;
    int result = 0; // what requests return
    // "login <UserID> <id>", "sub a,b", ... in order.
    std::vector<std::string> requests;

private:
    int Keep(const char* what, char* ids[], int n);
};

class RedundantFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the client with `links` links, registers spi and fronts, Inits.
    void Start(int links, int fronts = 2);
    FakeLink& Link(int k); // the link's current client
    int Links() const;
    int Clients() const; // made so far, new ones for links connecting again

    // The links' callbacks, as the loop delivers them.
    void Up(int k)
    {
        fake::InLoop([&] { Link(k).spi->OnFrontConnected(); });
    }
    void Down(int k, int reason = 0x2001)
    {
        fake::InLoop([&] { Link(k).spi->OnFrontDisconnected(reason); });
    }
    void LoginAnswer(int k, int error = 0, int requestId = 1);
    void SubAnswer(int k, const char* id, int error = 0, int requestId = 3);
    void Depth(int k, CThostFtdcDepthMarketDataField d)
    {
        fake::InLoop([&] { Link(k).spi->OnRtnDepthMarketData(&d); });
    }
    void Notice(int k, const char* sysId);
    int AppLogin(int requestId = 1, const char* user = "trader");
    int AppSubscribe(std::vector<std::string> ids);

    // The requests of link k since the last call for it.
    std::vector<std::string> NewRequests(int k);

    CThostFtdcMdApi* api = nullptr;
    mdlink::CRedundantMdApi* redundant = nullptr;
    RecordingSpi spi;

private:
    std::map<const FakeLink*, std::size_t> seen_;
    int links_ = 0;
};

// A depth record of one instrument at a time of day and a volume.
CThostFtdcDepthMarketDataField Record(const char* id, const char* time, int millis, int volume,
                                      double price = 100.0, const char* day = "20261208");

} // namespace test
