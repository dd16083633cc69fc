// The tools' client session against a fake client object: what it requests
// when, what it tells the user, and what it writes to a CSV file.
#include "ClientSession.h"
#include "CsvWriter.h"
#include "DepthCsv.h"
#include "MarketBoard.h"
#include "ToolsTestSupport.h"

#include <cstring>
#include <string>
#include <vector>

namespace toolstest {
namespace {

// Records the requests the session makes; every other operation does nothing.
class FakeApi : public CThostFtdcMdApi {
public:
    void Release() override {}
    void Init() override {}
    int Join() override { return 0; }
    const char* GetTradingDay() override { return nullptr; }
    void RegisterFront(char*) override {}
    void RegisterNameServer(char*) override {}
    void RegisterFensUserInfo(CThostFtdcFensUserInfoField*) override {}
    void RegisterSpi(CThostFtdcMdSpi*) override {}
    int SubscribeMarketData(char* ids[], int n) override { return Keep(subscribed, ids, n); }
    int UnSubscribeMarketData(char*[], int) override { return 0; }
    int SubscribeForQuoteRsp(char* ids[], int n) override { return Keep(forquote, ids, n); }
    int UnSubscribeForQuoteRsp(char*[], int) override { return 0; }
    int ReqUserLogin(CThostFtdcReqUserLoginField* req, int rid) override
    {
        logins.push_back(*req);
        loginIds.push_back(rid);
        return result;
    }
    int ReqUserLogout(CThostFtdcUserLogoutField*, int) override { return 0; }
    int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField*, int) override { return 0; }

    std::vector<CThostFtdcReqUserLoginField> logins;
    std::vector<int> loginIds;
    std::vector<std::vector<std::string>> subscribed;
    std::vector<std::vector<std::string>> forquote;
    int result = 0;

private:
    int Keep(std::vector<std::vector<std::string>>& into, char* ids[], int n)
    {
        into.emplace_back(ids, ids + n);
        return result;
    }
};

class ClientSessionTest : public ::testing::Test {
protected:
    ClientSessionTest() : spi_(Options(), board_, nullptr) { spi_.Attach(&api_); }

    FakeApi api_;
    mdtools::MarketBoard board_;
    mdtools::ClientSession spi_;
};

TEST_F(ClientSessionTest, LogsInOnEveryConnection)
{
    spi_.OnFrontConnected();
    spi_.OnFrontConnected();
    ASSERT_EQ(api_.logins.size(), 2u);
    EXPECT_STREQ(api_.logins[0].UserID, "alice");
    EXPECT_STREQ(api_.logins[0].Password, "pw");
    EXPECT_STREQ(api_.logins[0].BrokerID, "9999");
    EXPECT_NE(api_.loginIds[0], api_.loginIds[1]);
    EXPECT_TRUE(api_.subscribed.empty()); // not before the login answer
    EXPECT_TRUE(HasEvent(board_.TakeEvents(), "connected to the front"));
}

TEST_F(ClientSessionTest, SubscribesAfterEachSuccessfulLogin)
{
    CThostFtdcRspUserLoginField rsp;
    std::memset(&rsp, 0, sizeof rsp);
    std::strcpy(rsp.TradingDay, "20261208");
    CThostFtdcRspInfoField ok{};
    spi_.OnRspUserLogin(&rsp, &ok, 1, true);
    spi_.OnRspUserLogin(&rsp, nullptr, 2, true); // no info counts as success
    ASSERT_EQ(api_.subscribed.size(), 2u);
    EXPECT_EQ(api_.subscribed[0], (std::vector<std::string>{"au2612", "ag2612"}));
    ASSERT_EQ(api_.forquote.size(), 2u);
    EXPECT_EQ(api_.forquote[1], std::vector<std::string>{"IF2612"});
    EXPECT_TRUE(HasEvent(board_.TakeEvents(), "logged in, trading day 20261208"));
}

TEST_F(ClientSessionTest, FailedLoginSaysWhyAndSubscribesNothing)
{
    CThostFtdcRspInfoField bad{};
    bad.ErrorID = 3;
    std::strcpy(bad.ErrorMsg, "invalid user or password");
    spi_.OnRspUserLogin(nullptr, &bad, 1, true);
    EXPECT_TRUE(api_.subscribed.empty());
    EXPECT_TRUE(HasEvent(board_.TakeEvents(), "login failed: error 3: invalid user or password"));
}

TEST_F(ClientSessionTest, RefusedRequestsAreReported)
{
    api_.result = -1;
    spi_.OnFrontConnected();
    spi_.OnRspUserLogin(nullptr, nullptr, 1, true);
    const auto events = board_.TakeEvents();
    EXPECT_TRUE(HasEvent(events, "login request could not be sent"));
    EXPECT_TRUE(HasEvent(events, "subscription request could not be sent"));
}

TEST_F(ClientSessionTest, DisconnectionsAreNamed)
{
    EXPECT_EQ(mdtools::ClientSession::DisconnectText(0x2001), "connection lost");
    EXPECT_EQ(mdtools::ClientSession::DisconnectText(0x2002),
              "heartbeat timeout, the library moves to the next front");
    const int refused = static_cast<int>(std::errc::connection_refused);
    EXPECT_EQ(mdtools::ClientSession::DisconnectText(refused),
              "connection failed: " + std::system_category().message(refused) + " (" +
                  std::to_string(refused) + ")");
    spi_.OnFrontDisconnected(0x2001);
    EXPECT_TRUE(HasEvent(board_.TakeEvents(), "connection lost"));
}

TEST_F(ClientSessionTest, SubscriptionAnswersAndNoticesBecomeEvents)
{
    CThostFtdcSpecificInstrumentField inst{};
    std::strcpy(inst.InstrumentID, "zz1");
    CThostFtdcRspInfoField bad{};
    bad.ErrorID = 16;
    std::strcpy(bad.ErrorMsg, "instrument not found");
    spi_.OnRspSubMarketData(&inst, &bad, 3, true);
    CThostFtdcForQuoteRspField q{};
    std::strcpy(q.InstrumentID, "IF2612");
    std::strcpy(q.ForQuoteSysID, "77");
    spi_.OnRtnForQuoteRsp(&q);
    const auto events = board_.TakeEvents();
    EXPECT_TRUE(HasEvent(events, "subscribed zz1 failed: error 16: instrument not found"));
    EXPECT_TRUE(HasEvent(events, "for-quote notice 77 for IF2612"));
    EXPECT_EQ(board_.ForQuotes(), 1u);
}

class CsvOutputTest : public TempDirTest {};

TEST_F(CsvOutputTest, DepthRecordsGoToTheFile)
{
    const std::string path = "out.csv";
    {
        mdtools::CsvWriter csv;
        std::string error;
        ASSERT_TRUE(csv.Open(path, error)) << error;
        mdtools::MarketBoard board;
        mdtools::ClientSession spi(Options(), board, &csv);
        auto d = Depth("au2612", 452.34);
        spi.OnRtnDepthMarketData(&d);
        spi.OnRtnDepthMarketData(&d);
        EXPECT_TRUE(csv.Close());
    }
    std::vector<mdtools::CsvDepthRow> rows;
    std::string error;
    ASSERT_TRUE(mdtools::ReadDepthCsv(path, rows, error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].depth.LastPrice, 452.34);
    EXPECT_GT(rows[0].recv_time_us, 0);
    EXPECT_LE(rows[0].recv_time_us, rows[1].recv_time_us);
}

} // namespace
} // namespace toolstest
