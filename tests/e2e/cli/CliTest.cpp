// mdcli's logic against a fake client object: what it requests when, what
// it tells the user, and how the ticker draws.
#include "CliOptions.h"
#include "CliSpi.h"
#include "DepthCsv.h"
#include "MarketBoard.h"
#include "Ticker.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace clitest {
namespace {

using mdcli::CliOptions;

// Records the requests mdcli makes; every other operation does nothing.
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

CliOptions Options()
{
    CliOptions o;
    o.fronts = {"tcp://127.0.0.1:1"};
    o.user = "alice";
    o.password = "pw";
    o.broker = "9999";
    o.instruments = {"au2612", "ag2612"};
    o.forquote = {"IF2612"};
    return o;
}

bool HasEvent(const std::vector<std::string>& events, const std::string& text)
{
    for (const std::string& e : events)
        if (e.find(text) != std::string::npos)
            return true;
    return false;
}

CThostFtdcDepthMarketDataField Depth(const char* id, double last)
{
    CThostFtdcDepthMarketDataField d;
    std::memset(&d, 0, sizeof d);
    std::strcpy(d.InstrumentID, id);
    std::strcpy(d.UpdateTime, "10:11:12");
    d.UpdateMillisec = 500;
    d.LastPrice = last;
    d.PreSettlementPrice = 450;
    d.BidPrice1 = last - 0.02;
    d.AskPrice1 = last + 0.02;
    d.BidVolume1 = 7;
    d.AskVolume1 = 9;
    d.Volume = 1234;
    return d;
}

class CliSpiTest : public ::testing::Test {
protected:
    CliSpiTest() : spi_(Options(), board_, nullptr) { spi_.Attach(&api_); }

    FakeApi api_;
    mdcli::MarketBoard board_;
    mdcli::CliSpi spi_;
};

TEST_F(CliSpiTest, LogsInOnEveryConnection)
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

TEST_F(CliSpiTest, SubscribesAfterEachSuccessfulLogin)
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

TEST_F(CliSpiTest, FailedLoginSaysWhyAndSubscribesNothing)
{
    CThostFtdcRspInfoField bad{};
    bad.ErrorID = 3;
    std::strcpy(bad.ErrorMsg, "invalid user or password");
    spi_.OnRspUserLogin(nullptr, &bad, 1, true);
    EXPECT_TRUE(api_.subscribed.empty());
    EXPECT_TRUE(HasEvent(board_.TakeEvents(), "login failed: error 3: invalid user or password"));
}

TEST_F(CliSpiTest, RefusedRequestsAreReported)
{
    api_.result = -1;
    spi_.OnFrontConnected();
    spi_.OnRspUserLogin(nullptr, nullptr, 1, true);
    const auto events = board_.TakeEvents();
    EXPECT_TRUE(HasEvent(events, "login request could not be sent"));
    EXPECT_TRUE(HasEvent(events, "subscription request could not be sent"));
}

TEST_F(CliSpiTest, DisconnectionsAreNamed)
{
    EXPECT_EQ(mdcli::CliSpi::DisconnectText(0x2001), "connection lost");
    EXPECT_EQ(mdcli::CliSpi::DisconnectText(0x2002),
              "heartbeat timeout, the library moves to the next front");
    const int refused = static_cast<int>(std::errc::connection_refused);
    EXPECT_EQ(mdcli::CliSpi::DisconnectText(refused),
              "connection failed: " + std::system_category().message(refused) + " (" +
                  std::to_string(refused) + ")");
    spi_.OnFrontDisconnected(0x2001);
    EXPECT_TRUE(HasEvent(board_.TakeEvents(), "connection lost"));
}

TEST_F(CliSpiTest, SubscriptionAnswersAndNoticesBecomeEvents)
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

TEST(MarketBoardTest, KeepsTheLatestRecordPerInstrument)
{
    mdcli::MarketBoard board;
    board.AddDepth(Depth("au2612", 451), 1);
    board.AddDepth(Depth("ag2612", 7000), 2);
    board.AddDepth(Depth("au2612", 452), 3);
    EXPECT_EQ(board.Records(), 3u);
    EXPECT_EQ(board.Instruments(), 2u);
    auto rows = board.Rows(true);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(rows[0].depth.InstrumentID, "au2612");
    EXPECT_EQ(rows[0].depth.LastPrice, 452);
    EXPECT_EQ(rows[0].count, 2u);
    EXPECT_TRUE(board.Rows(true).empty());
    board.AddDepth(Depth("ag2612", 7001), 4);
    rows = board.Rows(true);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].depth.InstrumentID, "ag2612");
    EXPECT_EQ(board.Rows(false).size(), 2u);
}

TEST(MarketBoardTest, AnUnterminatedIdIsReadWithinItsMember)
{
    mdcli::MarketBoard board;
    auto d = Depth("", 1);
    std::memset(d.InstrumentID, 'x', sizeof d.InstrumentID);
    board.AddDepth(d, 1);
    board.AddDepth(d, 2);
    EXPECT_EQ(board.Instruments(), 1u);
}

TEST(CsvOutputTest, DepthRecordsGoToTheFile)
{
    std::random_device rd;
    const auto dir = std::filesystem::temp_directory_path() / ("mdcli-csv-" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "out.csv").string();
    {
        mdcli::CsvWriter csv;
        std::string error;
        ASSERT_TRUE(csv.Open(path, error)) << error;
        mdcli::MarketBoard board;
        mdcli::CliSpi spi(Options(), board, &csv);
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
    std::filesystem::remove_all(dir);
}

TEST(TickerTest, PricesAndChanges)
{
    EXPECT_EQ(mdcli::Ticker::Price(452.34), "452.34");
    EXPECT_EQ(mdcli::Ticker::Price(3550), "3550");
    EXPECT_EQ(mdcli::Ticker::Price(0), "-");
    EXPECT_EQ(mdcli::Ticker::Price(DBL_MAX), "-");
    auto d = Depth("au2612", 452.5);
    EXPECT_EQ(mdcli::Ticker::Change(d), "+2.5");
    d.PreSettlementPrice = DBL_MAX;
    d.PreClosePrice = 453;
    EXPECT_EQ(mdcli::Ticker::Change(d), "-0.5");
    d.PreClosePrice = 0;
    EXPECT_EQ(mdcli::Ticker::Change(d), "-");
}

TEST(TickerTest, RowsShowTheColumns)
{
    mdcli::TickerRow row;
    row.depth = Depth("au2612", 452.34);
    row.recv_us = 1700000000123456LL;
    const std::string text = mdcli::Ticker::Row(row);
    for (const char* part : {"au2612", "452.34", "+2.34", "452.32", "452.36", "1234",
                             "10:11:12.500", ".123456"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
    const std::string line = mdcli::Ticker::PlainLine(row);
    EXPECT_NE(line.find("bid=452.32 x7"), std::string::npos) << line;
    EXPECT_NE(line.find("updated=10:11:12.500"), std::string::npos) << line;
}

TEST(TickerTest, RedrawReplacesTheTableInPlace)
{
    mdcli::Ticker ticker;
    std::vector<mdcli::TickerRow> rows(3);
    for (int i = 0; i < 3; ++i)
        rows[static_cast<std::size_t>(i)].depth = Depth(("i" + std::to_string(i)).c_str(), 1 + i);
    const std::string first = ticker.Redraw({"hello"}, rows, 200, 50);
    EXPECT_EQ(first.find("\x1b["), std::string::npos);
    EXPECT_EQ(first.rfind("hello\n", 0), 0u);
    const std::string second = ticker.Redraw({}, rows, 200, 50);
    EXPECT_EQ(second.rfind("\x1b[4A\r\x1b[J", 0), 0u); // header + three rows
    // A small terminal: rows are cut, lines are shortened.
    const std::string small = ticker.Redraw({}, rows, 20, 4);
    EXPECT_NE(small.find("... 1 more instrum"), std::string::npos);
    std::istringstream lines(small.substr(small.find("\x1b[J") + 3));
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 19u) << line;
    EXPECT_EQ(ticker.Redraw({}, rows, 200, 50).rfind("\x1b[4A", 0), 0u);
}

TEST(CliOptionsTest, FlagsAndTheirErrors)
{
    CliOptions o;
    std::string error;
    ASSERT_TRUE(mdcli::ParseCliOptions({"--front", "tcp://127.0.0.1:7000", "--front=tcp://h:1",
                                        "--instruments", "a,,b", "--forquote", "c", "--csv",
                                        "x.csv", "--duration", "2.5", "--quiet", "--user", "u"},
                                       o, error))
        << error;
    EXPECT_EQ(o.fronts.size(), 2u);
    EXPECT_EQ(o.instruments, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(o.forquote, std::vector<std::string>{"c"});
    EXPECT_EQ(o.duration_seconds, 2.5);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.user, "u");
    const std::vector<std::vector<std::string>> bad = {
        {}, {"--front", "127.0.0.1:7000"}, {"--front", "tcp://h:0"}, {"--front", "tcp://:5"},
        {"--front", "tcp://h:1", "--nosuch", "1"}, {"--front", "tcp://h:1", "--duration", "x"},
        {"--front"}};
    for (const auto& args : bad) {
        CliOptions b;
        EXPECT_FALSE(mdcli::ParseCliOptions(args, b, error));
        EXPECT_FALSE(error.empty());
    }
    CliOptions h;
    EXPECT_TRUE(mdcli::ParseCliOptions({"--help"}, h, error));
    EXPECT_TRUE(h.help);
    for (const char* flag : {"--front", "--user", "--password", "--broker", "--instruments",
                             "--forquote", "--csv", "--duration", "--quiet", "--help"})
        EXPECT_NE(mdcli::CliUsage().find(flag), std::string::npos) << flag;
}

} // namespace
} // namespace clitest
