// Login, subscriptions, depth data and for-quote notices, in every body form
// and under the faults that must not change what the application gets:
// everything the client delivers is compared with what the front sent on
// the same connection.
#include "E2eSupport.h"

namespace e2e {
namespace {

using mdfront::DepthForm;
using mdfront::FrontConfig;

struct Flow {
    const char* name;
    void (*tweak)(FrontConfig&);
    std::size_t records = 40; // depth records to wait for
};

const Flow Flows[] = {
    {"Binary", [](FrontConfig&) {}},
    {"Text", [](FrontConfig& c) { c.form = DepthForm::Text; }},
    {"Joined", [](FrontConfig& c) { c.form = DepthForm::Joined; }},
    {"TextOf59FieldsZerosEmpty",
     [](FrontConfig& c) {
         c.form = DepthForm::Text;
         c.text_fields = 59;
         c.text_empty_zeros = true;
     }},
    {"JoinedOf70Fields",
     [](FrontConfig& c) {
         c.form = DepthForm::Joined;
         c.text_fields = 70;
     }},
    {"BinaryBodyOf801", [](FrontConfig& c) { c.faults.big_body_length = 801; }},
    {"BinaryBodyOf1MiB", [](FrontConfig& c) { c.faults.big_body_length = 1 << 20; }},
    {"TextBodyOf1MiB",
     [](FrontConfig& c) {
         c.form = DepthForm::Text;
         c.faults.big_body_length = 1 << 20;
     }},
    {"BinaryByteByByte",
     [](FrontConfig& c) {
         c.faults.trickle_delay = std::chrono::microseconds(1);
         c.rate = 2;
     },
     3},
    {"JoinedByteByByte",
     [](FrontConfig& c) {
         c.form = DepthForm::Joined;
         c.faults.trickle_delay = std::chrono::microseconds(1);
         c.rate = 2;
     },
     3},
    {"UnknownTypesIgnored", [](FrontConfig& c) { c.faults.unknown_frames = 5; }},
    {"ShortBodiesReadAsZeroPastTheirEnd",
     [](FrontConfig& c) {
         c.faults.short_login = 100;
         c.faults.short_instrument = 4;
         c.faults.short_forquote = 50;
         c.faults.short_depth = 200;
         // A long body first, so that stale bytes would show.
         c.faults.unknown_frames = 1;
         c.faults.unknown_body_length = 800;
     }},
};

void PrintTo(const Flow& flow, std::ostream* out)
{
    *out << flow.name;
}

class RoundTrip : public ClientTest, public ::testing::WithParamInterface<Flow> {
protected:
    // The (un)subscription responses of one kind: records as their bodies
    // read, response information only when the body carries it whole.
    void ExpectResponses(const mdfront::ConnectionRecord& conn, Kind kind, std::uint32_t msgType)
    {
        const auto sent = SentOfType(conn, msgType);
        const auto got = session_->Of(kind);
        ASSERT_EQ(got.size(), sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const Bytes body = sent[i].Body();
            EXPECT_EQ(RecordBytes(got[i].instrument),
                      RecordBytes(FromBody<CThostFtdcSpecificInstrumentField>(body)));
            EXPECT_EQ(got[i].requestId, sent[i].header.RequestId);
            EXPECT_EQ(got[i].isLast, sent[i].header.IsLast != 0);
            ASSERT_EQ(got[i].hasInfo, body.size() == mdfront::InstrumentBodySize);
            if (got[i].hasInfo) {
                EXPECT_EQ(RecordBytes(got[i].info),
                          RecordBytes(FromBody<CThostFtdcRspInfoField>(
                              Bytes(body.begin() + mdfront::InstrumentRecordSize, body.end()))));
            }
        }
    }

    std::vector<char*> Ids(std::vector<std::string>& ids)
    {
        std::vector<char*> out;
        for (std::string& id : ids)
            out.push_back(&id[0]);
        return out;
    }
};

TEST_P(RoundTrip, EverySentRecordArrivesOnceInOrderAsSent)
{
    FrontConfig cfg = BaseConfig();
    GetParam().tweak(cfg);
    mdfront::FrontServer& front = AddFront(cfg);
    std::vector<std::string> instruments = {"au2612", "ag2612"};
    std::vector<std::string> quotes = {"IF2612"};
    session_->instruments = instruments;
    session_->quotes = quotes;
    StartClient({Address(front)});
    ASSERT_TRUE(session_->WaitUntil([&] {
        return session_->Count(Kind::Depth) >= GetParam().records && session_->Count(Kind::Quote) >= 1;
    }));

    // Unsubscribe everything. The front answers behind all it has pushed, so
    // once the last answer is in, the client has had every frame sent.
    auto ids = Ids(instruments);
    ASSERT_EQ(api_->UnSubscribeMarketData(ids.data(), 2), 0);
    ASSERT_TRUE(session_->WaitCount(Kind::UnSubMd, 2));
    auto quoteIds = Ids(quotes);
    ASSERT_EQ(api_->UnSubscribeForQuoteRsp(quoteIds.data(), 1), 0);
    ASSERT_TRUE(session_->WaitCount(Kind::UnSubQuote, 1));
    const mdfront::ConnectionRecord conn = front.Connection(0);
    EXPECT_TRUE(conn.stats.subscribed.empty());
    EXPECT_TRUE(conn.stats.forquote_subscribed.empty());

    const std::vector<Event> events = session_->Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::Connected);
    EXPECT_EQ(events[1].kind, Kind::Login);
    EXPECT_EQ(front.ConnectionCount(), 1u);
    EXPECT_EQ(session_->Count(Kind::Connected), 1u);
    EXPECT_EQ(session_->Count(Kind::Disconnected), 0u);

    const auto login = SentOfType(conn, mdlink::MsgRspUserLogin);
    ASSERT_EQ(login.size(), 1u);
    const Bytes loginBody = login[0].Body();
    EXPECT_EQ(RecordBytes(events[1].login), RecordBytes(FromBody<CThostFtdcRspUserLoginField>(loginBody)));
    EXPECT_EQ(events[1].hasInfo, loginBody.size() == mdfront::LoginBodySize);
    EXPECT_EQ(events[1].info.ErrorID, 0);
    EXPECT_EQ(events[1].requestId, login[0].header.RequestId);

    ExpectResponses(conn, Kind::SubMd, mdlink::MsgRspSubscribeMarketData);
    ExpectResponses(conn, Kind::UnSubMd, mdlink::MsgRspUnSubscribeMarketData);
    ExpectResponses(conn, Kind::SubQuote, mdlink::MsgRspSubscribeForQuoteRsp);
    ExpectResponses(conn, Kind::UnSubQuote, mdlink::MsgRspUnSubscribeForQuoteRsp);

    const auto depthSent = SentOfType(conn, mdlink::MsgDepthMarketData);
    const auto depthGot = session_->Of(Kind::Depth);
    ASSERT_EQ(depthGot.size(), depthSent.size());
    for (std::size_t i = 0; i < depthSent.size(); ++i)
        EXPECT_EQ(DepthDiff(ExpectedDepth(depthSent[i], cfg, i == 0), depthGot[i].depth), "")
            << "depth record " << i;

    const auto quoteSent = SentOfType(conn, mdlink::MsgForQuoteRsp);
    const auto quoteGot = session_->Of(Kind::Quote);
    ASSERT_EQ(quoteGot.size(), quoteSent.size());
    for (std::size_t i = 0; i < quoteSent.size(); ++i)
        EXPECT_EQ(RecordBytes(quoteGot[i].quote),
                  RecordBytes(FromBody<CThostFtdcForQuoteRspField>(quoteSent[i].Body())));

    // Unsubscribing stopped the flow: no depth record behind the first answer.
    const auto firstUnsub =
        std::find_if(events.begin(), events.end(), [](const Event& e) { return e.kind == Kind::UnSubMd; });
    EXPECT_TRUE(std::none_of(firstUnsub, events.end(), [](const Event& e) { return e.kind == Kind::Depth; }));

    // The faults did happen.
    if (cfg.faults.big_body_length > 0) {
        EXPECT_EQ(depthSent[0].Body().size(), cfg.faults.big_body_length);
    }
    if (cfg.faults.trickle_delay) {
        EXPECT_EQ(conn.stats.write_calls, conn.stats.bytes_written);
    }
    const std::size_t known = login.size() + depthSent.size() + quoteSent.size() +
        session_->Count(Kind::SubMd) + session_->Count(Kind::UnSubMd) + session_->Count(Kind::SubQuote) +
        session_->Count(Kind::UnSubQuote);
    EXPECT_EQ(conn.stats.frames_sent - known, cfg.faults.unknown_frames + conn.stats.heartbeats_received);
}

INSTANTIATE_TEST_SUITE_P(Forms, RoundTrip, ::testing::ValuesIn(Flows),
                         [](const ::testing::TestParamInfo<Flow>& info) { return info.param.name; });

} // namespace
} // namespace e2e
