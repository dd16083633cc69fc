#include "ToolsTestSupport.h"

#include <cstring>
#include <random>
#include <system_error>

namespace toolstest {

void TempDirTest::SetUp()
{
    previousDir_ = std::filesystem::current_path();
    std::random_device rd;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
        ("mdtools-" + std::string(info->name()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
}

void TempDirTest::TearDown()
{
    std::filesystem::current_path(previousDir_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

mdcli::CliOptions Options()
{
    mdcli::CliOptions o;
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

} // namespace toolstest
