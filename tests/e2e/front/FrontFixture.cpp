#include "FrontFixture.h"

#include <cstring>

namespace fronttest {

void FrontFixture::TearDown()
{
    if (front_)
        front_->Stop();
    front_.reset();
    TempDirTest::TearDown();
}

mdfront::FrontConfig FrontFixture::BaseConfig()
{
    mdfront::FrontConfig cfg;
    cfg.instruments = {{"au2612", "SHFE"}, {"ag2612", "SHFE"}, {"IF2612", "CFFEX"}};
    cfg.trading_day = "20261208";
    cfg.rate = 200;
    cfg.front_id = 7;
    return cfg;
}

std::uint16_t FrontFixture::StartFront(const mdfront::FrontConfig& config)
{
    front_ = std::make_unique<mdfront::FrontServer>(config);
    port_ = front_->Start();
    return port_;
}

std::unique_ptr<FrontTestClient> FrontFixture::LoggedInClient()
{
    auto client = std::make_unique<FrontTestClient>(port_);
    client->SendLogin(1, "alice", "secret");
    auto rsp = client->ReadFrame();
    EXPECT_TRUE(rsp.has_value());
    if (rsp) {
        EXPECT_EQ(rsp->header.MsgType, mdlink::MsgRspUserLogin);
        EXPECT_EQ(ErrorIdAt(rsp->body, mdfront::LoginRecordSize), 0);
    }
    return client;
}

int ErrorIdAt(const Bytes& body, std::size_t offset)
{
    if (body.size() < offset + 4)
        return -12345;
    int v;
    std::memcpy(&v, body.data() + offset, sizeof v);
    return v;
}

std::string ErrorTextAt(const Bytes& body, std::size_t offset)
{
    return TextAt(body, offset + 4, 81);
}

std::string TextAt(const Bytes& body, std::size_t offset, std::size_t width)
{
    if (body.size() < offset + width)
        return "<short body>";
    return mdfront::MemberText(reinterpret_cast<const char*>(body.data() + offset), width);
}

} // namespace fronttest
