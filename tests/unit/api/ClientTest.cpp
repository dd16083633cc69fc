// The client object: entry points, registration, fronts, Init, Release, and
// the binary layout applications rely on.
#include "TestSupport.h"

#include <new>

#include "RedundantMdApi.h"
#include "api/FrontAddress.h"

#include <cstdint>
#include <cstdlib>

using namespace mdlink;
using test::ClientFixture;
using test::Logged;
using test::Messages;

namespace {

TEST(EntryPoints, VersionThroughBothExportsBeforeAnyClient)
{
    EXPECT_STREQ(CThostFtdcMdApi::GetApiVersion(), "1.4.1.3");
    EXPECT_STREQ(::GetApiVersion(), "1.4.1.3");
}

TEST(EntryPoints, EveryClientIsIndependentWithItsOwnLog)
{
    fake::World& w = fake::World::Get();
    CThostFtdcMdApi* a = CThostFtdcMdApi::CreateFtdcMdApi("flow/", true, true);
    CThostFtdcMdApi* b = CThostFtdcMdApi::CreateFtdcMdApi();
    ASSERT_NE(a, b);
    ASSERT_EQ(w.logs.size(), 2u);
    for (std::size_t i = 0; i < w.logs.size(); ++i) {
        const fake::LogSetup& log = w.logs[i];
        EXPECT_EQ(log.mode, 1);
        EXPECT_EQ(log.dir, "./KVMDLog");
        EXPECT_EQ(log.name, "KVMDLog");
        EXPECT_EQ(log.keepDays, 5);
        const std::vector<std::string> lines = w.LinesOf(log.log);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0],
                  "<app>[   KVMDApi][     InitApi] - CreateFtdcMdApi static Version Foreign 1.4.1.3");
    }
    a->Release();
    b->Release();
}

void SetLinksVariable(const char* value)
{
#ifdef _WIN32
    _putenv_s("MDLINK_LINKS", value ? value : "");
#else
    if (value)
        setenv("MDLINK_LINKS", value, 1);
    else
        unsetenv("MDLINK_LINKS");
#endif
}

TEST(EntryPoints, TheLinksVariableIsReadOneWayAndAnUnreadableValueIsSaid)
{
    struct Case {
        const char* value;
        bool redundant;
        const char* warning; // null: none
    };
    const Case cases[] = {
        {"1", false, nullptr},
        {" 2 ", true, nullptr},
        {"abc", false, "MDLINK_LINKS=\"abc\" is not a number of links (1 to 8): the single client"},
        {"+2", false, "MDLINK_LINKS=\"+2\" is not a number of links (1 to 8): the single client"},
        {"0", false, "MDLINK_LINKS=\"0\" is not a number of links (1 to 8): the single client"},
        {"12", true, "CreateFtdcMdApi static Version Foreign 1.4.1.3, 8 links (the most there may be)"},
    };
    for (const Case& c : cases) {
        fake::World::Get().Restart();
        SetLinksVariable(c.value);
        CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
        SetLinksVariable(nullptr);
        ASSERT_NE(api, nullptr);
        EXPECT_EQ(dynamic_cast<CRedundantMdApi*>(api) != nullptr, c.redundant) << c.value;
        std::vector<std::string> warnings;
        for (const fake::TraceLine& line : fake::World::Get().lines)
            if (line.level == 2)
                warnings.push_back(line.text);
        if (c.warning) {
            ASSERT_EQ(warnings.size(), 1u) << c.value;
            EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
        } else {
            EXPECT_TRUE(warnings.empty()) << c.value << ": " << warnings.front();
        }
        api->Release();
        fake::World::Get().RunPosted();
    }
}

struct AddressCase {
    const char* text;
    const char* host; // null: rejected
    int port;
};

TEST(FrontAddress, ParsesHostAndPortAfterAnySixCharacterPrefix)
{
    const std::string longHost(127, 'h');
    const std::string tooLongHost(128, 'h');
    const std::string withLong = "tcp://" + longHost + ":1";
    const std::string withTooLong = "tcp://" + tooLongHost + ":1";
    const AddressCase cases[] = {
        {"tcp://10.1.2.3:7000", "10.1.2.3", 7000},
        {"udp://10.1.2.3:7000", "10.1.2.3", 7000},
        {"xxxxxxhost:1", "host", 1},
        {"tcp://a:b:7000", "a:b", 7000},
        {"tcp://[::1]:7000", "[::1]", 7000},
        {"tcp://host:", "host", 0},
        {"tcp://host:70x0", "host", 70},
        {"tcp://host:  +80", "host", 80},
        {"tcp://host:-0", "host", 0},
        {"tcp://:5", "", 5},
        {"tcp://host:65535", "host", 65535},
        {withLong.c_str(), longHost.c_str(), 1},
        {"tcp://host", nullptr, 0},
        {"", nullptr, 0},
        {"tcp:7000", nullptr, 0},
        {"a:b", nullptr, 0},
        {"tcp://host:65536", nullptr, 0},
        {"tcp://host:99999999999999999999", nullptr, 0},
        {"tcp://host:-1", nullptr, 0},
        {withTooLong.c_str(), nullptr, 0},
    };
    for (const AddressCase& c : cases) {
        std::unique_ptr<Kelvo_SocketAddr> address = ParseFrontAddress(c.text);
        if (!c.host) {
            EXPECT_EQ(address, nullptr) << c.text;
            continue;
        }
        ASSERT_NE(address, nullptr) << c.text;
        EXPECT_STREQ(address->GetAddr(), c.host) << c.text;
        EXPECT_EQ(address->GetPort(), c.port) << c.text;
    }
    EXPECT_EQ(ParseFrontAddress(nullptr), nullptr);
}

class Client : public ClientFixture {};

TEST_F(Client, RegisterFrontLogsEveryTextAndKeepsOnlyAddresses)
{
    char good[] = "tcp://10.0.0.1:7001";
    char bad[] = "tcp://nocolon";
    api->RegisterFront(bad);
    api->RegisterFront(good);
    api->RegisterFront(nullptr);
    EXPECT_TRUE(Logged("RegisterFront : tcp://nocolon"));
    EXPECT_TRUE(Logged("RegisterFront : tcp://10.0.0.1:7001"));
    EXPECT_TRUE(Logged("RegisterFront: [tcp://nocolon] is not a front address, ignored"));
    EXPECT_TRUE(Logged("RegisterFront: null address ignored"));
    api->Init();
    ASSERT_EQ(world().connects.size(), 1u);
    EXPECT_EQ(world().connects[0].host, "10.0.0.1");
    EXPECT_EQ(world().connects[0].port, 7001);
    ASSERT_NE(client->NextFront(), nullptr);
    EXPECT_STREQ(client->NextFront()->GetAddr(), "10.0.0.1") << "only one front was kept";
}

TEST_F(Client, FrontsAreTakenRoundRobin)
{
    Start({"tcp://f1:1", "tcp://f2:2", "tcp://f3:3"}, false);
    ASSERT_EQ(world().connects.size(), 1u);
    EXPECT_EQ(world().connects[0].host, "f1");
    const char* expected[] = {"f2", "f3", "f1", "f2"};
    for (const char* host : expected)
        EXPECT_STREQ(client->NextFront()->GetAddr(), host);
}

TEST_F(Client, InitLogsAroundConnectingToTheFirstFront)
{
    Start({"tcp://127.0.0.1:7000"}, false);
    const std::vector<std::string> m = Messages();
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m[m.size() - 2], "Init version:2.0.0.1--->");
    EXPECT_EQ(m.back(), "Init <---");
    EXPECT_EQ(world().connects.at(0).port, 7000);
}

TEST_F(Client, InitWithoutAFrontDoesNothingButAnErrorRecord)
{
    world().Reset();
    api->Init();
    ASSERT_EQ(world().lines.size(), 1u);
    EXPECT_EQ(world().lines[0].level, 1);
    EXPECT_EQ(world().lines[0].text, "<err>[   KVMDApi][        Init] - Init: no front registered");
    EXPECT_TRUE(world().connects.empty());
    EXPECT_TRUE(world().sets.empty());
    // It did not count as the client's Init.
    Start({"tcp://127.0.0.1:7000"}, false);
    EXPECT_EQ(world().connects.size(), 1u);
    fake::ConnectOk(conn);
    EXPECT_EQ(spi.Kinds(), std::vector<std::string>{"FrontConnected"});
}

TEST_F(Client, SecondInitIsIgnoredWithAWarning)
{
    Start();
    world().Reset();
    api->Init();
    ASSERT_EQ(world().lines.size(), 1u);
    EXPECT_EQ(world().lines[0].text, "<war>[   KVMDApi][        Init] - Init: already started");
    EXPECT_TRUE(world().connects.empty());
    EXPECT_TRUE(world().sets.empty());
}

TEST_F(Client, RegisterSpiLogsTheLow32BitsOfThePointer)
{
    world().Reset();
    api->RegisterSpi(nullptr);
    api->RegisterSpi(reinterpret_cast<CThostFtdcMdSpi*>(static_cast<std::uintptr_t>(0xABCDEF12u)));
    const std::vector<std::string> m = Messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "RegisterSpi [0x00000000]");
    EXPECT_EQ(m[1], "RegisterSpi [0xabcdef12]");
    EXPECT_EQ(world().lines[0].text.substr(0, 31), "<app>[   KVMDApi][      RegSpi]");
    api->RegisterSpi(&spi);
}

TEST_F(Client, NullSpiSkipsTheApplicationButNotTheWork)
{
    api->RegisterSpi(nullptr);
    Start();
    EXPECT_TRUE(spi.events.empty());
    EXPECT_EQ(world().sets.size(), 1u) << "the heartbeat started all the same";
}

TEST_F(Client, AnInitThatCouldNotReachTheLoopLeavesTheClientStartable)
{
    char front[] = "tcp://127.0.0.1:7000";
    api->RegisterFront(front);
    world().failLoopCalls = true;
#if defined(_WIN32)
    api->Init(); // no exception leaves the library there
#else
    EXPECT_THROW(api->Init(), std::bad_alloc);
#endif
    world().failLoopCalls = false;
    EXPECT_TRUE(world().connects.empty());
    api->Init();
    ASSERT_EQ(world().connects.size(), 1u);
    fake::ConnectOk(conn);
    EXPECT_EQ(spi.Count("FrontConnected"), 1);
}

TEST_F(Client, OperationsWithoutServiceAnswerAtOnceAndLeaveNoTrace)
{
    Start();
    world().Reset();
    CThostFtdcUserLogoutField logout{};
    CThostFtdcQryMulticastInstrumentField query{};
    CThostFtdcFensUserInfoField fens{};
    char ns[] = "tcp://ns:1";
    EXPECT_EQ(api->Join(), 0);
    EXPECT_EQ(api->GetTradingDay(), nullptr);
    EXPECT_EQ(api->ReqUserLogout(&logout, 1), 0);
    EXPECT_EQ(api->ReqQryMulticastInstrument(&query, 1), 0);
    api->RegisterNameServer(ns);
    api->RegisterFensUserInfo(&fens);
    EXPECT_TRUE(world().lines.empty());
    EXPECT_TRUE(world().sent.empty());
    EXPECT_TRUE(world().connects.empty());
    EXPECT_STREQ(client->NextFront()->GetAddr(), "127.0.0.1");
}

TEST_F(Client, ReleaseWithoutInitClosesAndDestroys)
{
    const std::size_t alive = world().handlers.size();
    world().Reset();
    Release();
    EXPECT_EQ(world().handlers.size(), alive - 1);
    EXPECT_EQ(world().closes.size(), 1u);
    EXPECT_EQ(world().clears.size(), 0u) << "there was no supervisor";
}

TEST_F(Client, ReleaseFromAnApplicationThreadTearsDownOnTheLoop)
{
    Start();
    const std::size_t alive = world().handlers.size();
    const int calls = world().loopCalls;
    Release();
    EXPECT_EQ(world().loopCalls, calls + 1);
    EXPECT_EQ(world().handlers.size(), alive - 1);
    EXPECT_TRUE(world().pending.empty()) << "every timer was cancelled";
}

#if defined(__GNUC__)
// Itanium C++ ABI (GCC, Clang, MinGW): a pointer to a virtual member holds
// 1 + its byte offset in the virtual table.
template <class M>
long Slot(M member)
{
    struct {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } rep;
    static_assert(sizeof(M) == sizeof rep, "Itanium member pointer");
    std::memcpy(&rep, &member, sizeof rep);
    return static_cast<long>((rep.ptr - 1) / sizeof(void*));
}

TEST(BinaryLayout, InterfaceSlotsAreInThePublishedOrder)
{
    using A = CThostFtdcMdApi;
    EXPECT_EQ(Slot(&A::Release), 0);
    EXPECT_EQ(Slot(&A::Init), 1);
    EXPECT_EQ(Slot(&A::Join), 2);
    EXPECT_EQ(Slot(&A::GetTradingDay), 3);
    EXPECT_EQ(Slot(&A::RegisterFront), 4);
    EXPECT_EQ(Slot(&A::RegisterNameServer), 5);
    EXPECT_EQ(Slot(&A::RegisterFensUserInfo), 6);
    EXPECT_EQ(Slot(&A::RegisterSpi), 7);
    EXPECT_EQ(Slot(&A::SubscribeMarketData), 8);
    EXPECT_EQ(Slot(&A::UnSubscribeMarketData), 9);
    EXPECT_EQ(Slot(&A::SubscribeForQuoteRsp), 10);
    EXPECT_EQ(Slot(&A::UnSubscribeForQuoteRsp), 11);
    EXPECT_EQ(Slot(&A::ReqUserLogin), 12);
    EXPECT_EQ(Slot(&A::ReqUserLogout), 13);
    EXPECT_EQ(Slot(&A::ReqQryMulticastInstrument), 14);
    EXPECT_EQ(sizeof(A), sizeof(void*)) << "only the table pointer: no virtual destructor, no data";
}

TEST(BinaryLayout, CallbackSlotsAreInThePublishedOrder)
{
    using S = CThostFtdcMdSpi;
    EXPECT_EQ(Slot(&S::OnFrontConnected), 0);
    EXPECT_EQ(Slot(&S::OnFrontDisconnected), 1);
    EXPECT_EQ(Slot(&S::OnHeartBeatWarning), 2);
    EXPECT_EQ(Slot(&S::OnRspUserLogin), 3);
    EXPECT_EQ(Slot(&S::OnRspUserLogout), 4);
    EXPECT_EQ(Slot(&S::OnRspQryMulticastInstrument), 5);
    EXPECT_EQ(Slot(&S::OnRspError), 6);
    EXPECT_EQ(Slot(&S::OnRspSubMarketData), 7);
    EXPECT_EQ(Slot(&S::OnRspUnSubMarketData), 8);
    EXPECT_EQ(Slot(&S::OnRspSubForQuoteRsp), 9);
    EXPECT_EQ(Slot(&S::OnRspUnSubForQuoteRsp), 10);
    EXPECT_EQ(Slot(&S::OnRtnDepthMarketData), 11);
    EXPECT_EQ(Slot(&S::OnRtnForQuoteRsp), 12);
}

TEST(BinaryLayout, BaseLayerCallbackSlotsFollowTheDestructor)
{
    using H = Kelvo_TcpClientHandler;
    EXPECT_EQ(Slot(&H::OnRecvBuffer), 2);
    EXPECT_EQ(Slot(&H::OnConnectOk), 3);
    EXPECT_EQ(Slot(&H::OnConnectFaild), 4);
    EXPECT_EQ(Slot(&H::OnDisConnect), 5);
    EXPECT_EQ(Slot(&H::OnRecvData), 6);
    EXPECT_EQ(Slot(&Kelvo_Timer::OnTimer), 2);
}

TEST(BinaryLayout, ClientAddsItsOwnOperationsAfterTheInterface)
{
    // The interface's 15 slots, the destructor's two entries, then the
    // callbacks in declaration order with HandleMsg between OnRecvBuffer and
    // OnRecvData.
    EXPECT_EQ(Slot(&CKelvoMDClient::OnConnectOk), 17);
    EXPECT_EQ(Slot(&CKelvoMDClient::OnConnectFaild), 18);
    EXPECT_EQ(Slot(&CKelvoMDClient::OnDisConnect), 19);
    EXPECT_EQ(Slot(&CKelvoMDClient::OnRecvBuffer), 20);
    EXPECT_EQ(Slot(&CKelvoMDClient::HandleMsg), 21);
    EXPECT_EQ(Slot(&CKelvoMDClient::OnRecvData), 22);
}
#endif

} // namespace
