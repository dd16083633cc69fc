// The single client's figures for the metrics page, counted where the
// events happen, and the page made of them.
#include "TestSupport.h"

#include "metrics/Page.h"
#include "metrics/RedundantFigures.h"

#include <cstring>

using namespace mdlink;
using test::ClientFixture;
using test::Frame;

namespace {

std::string LoginBody(int errorId)
{
    CThostFtdcRspUserLoginField login{};
    return test::Bytes(login) + std::string(4, '\0') + test::Bytes(test::RspInfo(errorId, "x"));
}

class Figures : public ClientFixture {
protected:
    const metrics::LinkFigures& f() { return *client->GetFigures(); }
    std::string Page()
    {
        return metrics::RenderPage({metrics::Listed{7, client->GetFigures(), nullptr}},
                                   Kelvo_THREAD_GetTickCount());
    }
    // What the metrics thread does every LinkFigures::SampleMs.
    void Sample()
    {
        metrics::SampleRecords({metrics::Listed{7, client->GetFigures(), nullptr}},
                               Kelvo_THREAD_GetTickCount());
    }
};

TEST_F(Figures, ConnectionLoginAndRecordsAreCounted)
{
    Start({"tcp://f1:1"}, false);
    EXPECT_EQ(f().Front(), "tcp://f1:1");
    EXPECT_EQ(f().connected.Get(), 0u);
    fake::ConnectOk(conn);
    EXPECT_EQ(f().connected.Get(), 1u);
    EXPECT_EQ(f().connects.Get(), 1u);

    const std::string refused = Frame(MsgRspUserLogin, LoginBody(3), 1, 1);
    fake::Feed(conn, refused);
    EXPECT_EQ(f().loginRefusals.Get(), 1u);
    EXPECT_EQ(f().loggedIn.Get(), 0u);
    const std::string accepted = Frame(MsgRspUserLogin, LoginBody(0), 2, 1);
    fake::Feed(conn, accepted);
    EXPECT_EQ(f().loginRefusals.Get(), 1u);
    EXPECT_EQ(f().loggedIn.Get(), 1u);

    EXPECT_EQ(f().Records(), 0u);
    const std::string depth = Frame(MsgDepthMarketData, test::Bytes(CThostFtdcDepthMarketDataField{}));
    fake::Feed(conn, depth + depth + depth);
    EXPECT_EQ(f().Records(), 3u);
    EXPECT_EQ(f().receivedBytes.Get(), refused.size() + accepted.size() + 3 * depth.size());

    fake::Disconnect(conn, 104);
    EXPECT_EQ(f().connected.Get(), 0u);
    EXPECT_EQ(f().loggedIn.Get(), 0u);
    fake::ConnectOk(conn);
    EXPECT_EQ(f().connects.Get(), 2u);
}

TEST_F(Figures, HeartbeatTimeoutCountsAndMovesTheFront)
{
    Start({"tcp://f1:1", "tcp://f2:2"});
    fake::Feed(conn, Frame(MsgRspUserLogin, LoginBody(0), 1, 1));
    world().Advance(21000);
    EXPECT_EQ(f().heartbeatTimeouts.Get(), 1u);
    EXPECT_EQ(f().connected.Get(), 0u);
    EXPECT_EQ(f().loggedIn.Get(), 0u);
    EXPECT_EQ(f().Front(), "tcp://f2:2");
}

TEST_F(Figures, FailedConnectNamesTheFrontTriedNext)
{
    Start({"tcp://f1:1", "tcp://f2:2"}, false);
    fake::ConnectFail(conn, 111);
    EXPECT_EQ(f().Front(), "tcp://f2:2");
    EXPECT_EQ(f().connects.Get(), 0u);
}

TEST_F(Figures, PageShowsTheClientWithItsLabelsAndAnAgeOnceARecordCame)
{
    Start({"tcp://f1:1"});
    std::string page = Page();
    EXPECT_NE(page.find("mdlink_connected{client=\"7\",front=\"tcp://f1:1\"} 1\n"), std::string::npos)
        << page;
    EXPECT_NE(page.find("mdlink_records_total{client=\"7\",front=\"tcp://f1:1\"} 0\n"), std::string::npos)
        << page;
    EXPECT_EQ(page.find("mdlink_last_record_age_seconds"), std::string::npos) << page;
    EXPECT_EQ(page.find("mdlink_redundant_"), std::string::npos) << "no redundant client listed";
    // The age runs from the sample that first saw the record counted, and
    // does not move while no record comes.
    world().Advance(1000);
    Sample();
    fake::Feed(conn, Frame(MsgDepthMarketData, test::Bytes(CThostFtdcDepthMarketDataField{})));
    Sample();
    world().Advance(2500);
    Sample();
    page = Page();
    EXPECT_NE(page.find("mdlink_last_record_age_seconds{client=\"7\",front=\"tcp://f1:1\"} 2.5\n"),
              std::string::npos)
        << page;
}

TEST_F(Figures, TheFeedLagTimesTheFirstRecordAfterEachSampleUnderItsExchange)
{
    Start({"tcp://f1:1"});
    CThostFtdcDepthMarketDataField record{};
    std::strcpy(record.ExchangeID, "SHFE");
    std::strcpy(record.UpdateTime, "09:30:00");
    const std::string depth = Frame(MsgDepthMarketData, test::Bytes(record));
    fake::Feed(conn, depth);
    EXPECT_EQ(Page().find("mdlink_feed_lag_seconds"), std::string::npos) << "nothing asked, nothing timed";
    Sample();
    fake::Feed(conn, depth + depth);
    Sample();
    fake::Feed(conn, depth);
    const std::string page = Page();
    EXPECT_NE(
        page.find("mdlink_feed_lag_seconds_count{client=\"7\",front=\"tcp://f1:1\",exchange=\"SHFE\"} 2\n"),
        std::string::npos)
        << page;
}

TEST(RedundantPage, LinksCarryTheirNumberAndTheLatenessIsCumulative)
{
    auto figures = std::make_shared<metrics::RedundantFigures>();
    figures->made.Set(2);
    figures->links[1]->SetFront("h", 9);
    figures->arbiter[1].first.Set(5);
    figures->arbiter[1].late[0].Set(2);
    figures->arbiter[1].late[3].Set(1);
    figures->arbiter[1].late[RedundantLateBuckets - 1].Set(4);
    figures->arbiter[1].lateSumNs.Set(1500000000);
    const std::string page = metrics::RenderPage({metrics::Listed{3, nullptr, figures}}, 0);
    const std::string labels = "client=\"3\",front=\"tcp://h:9\",link=\"1\"";
    for (const std::string& line :
         {"mdlink_redundant_first_total{" + labels + "} 5\n",
          "mdlink_redundant_lateness_seconds_bucket{" + labels + ",le=\"1e-05\"} 2\n",
          "mdlink_redundant_lateness_seconds_bucket{" + labels + ",le=\"0.0001\"} 2\n",
          "mdlink_redundant_lateness_seconds_bucket{" + labels + ",le=\"0.0003\"} 3\n",
          "mdlink_redundant_lateness_seconds_bucket{" + labels + ",le=\"0.1\"} 3\n",
          "mdlink_redundant_lateness_seconds_bucket{" + labels + ",le=\"+Inf\"} 7\n",
          "mdlink_redundant_lateness_seconds_sum{" + labels + "} 1.5\n",
          "mdlink_redundant_lateness_seconds_count{" + labels + "} 7\n",
          std::string("mdlink_connected{client=\"3\",front=\"\",link=\"0\"} 0\n")})
        EXPECT_NE(page.find(line), std::string::npos) << line << page;
    EXPECT_EQ(page.find("link=\"2\""), std::string::npos) << "only the links made";
}

} // namespace
