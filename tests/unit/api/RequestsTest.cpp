// Login and subscription requests: cutting into frames, RequestIds, refusals.
#include "TestSupport.h"

#include <cstdlib>
#include <mutex>
#include <new>

using namespace mdlink;
using test::ClientFixture;
using test::SentBody;
using test::SentHeader;

// This program's operator new: frame strings are the only heap objects of
// their size that a request creates; tracking them tells whether a refused
// frame was destroyed. It also counts allocations for the tests that require
// none (see TestSupport.h). The replacement operators below pair malloc with
// free throughout, which GCC's inlining check cannot see.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
// Fixed storage: the tracker itself must not allocate.
std::mutex g_trackMutex;
bool g_tracking = false;
bool g_failAllocations = false;
void* g_tracked[64];
int g_trackedCount = 0;

void Track(void* p, std::size_t size)
{
    std::lock_guard<std::mutex> lock(g_trackMutex);
    if (g_tracking && size == sizeof(Kelvo_String) && g_trackedCount < 64)
        g_tracked[g_trackedCount++] = p;
}

void Untrack(void* p)
{
    std::lock_guard<std::mutex> lock(g_trackMutex);
    for (int i = 0; i < g_trackedCount; ++i)
        if (g_tracked[i] == p) {
            g_tracked[i] = g_tracked[--g_trackedCount];
            return;
        }
}
} // namespace

void* operator new(std::size_t size)
{
    test::NoteOperatorNew();
    void* p = g_failAllocations ? nullptr : std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    Track(p, size);
    return p;
}

void operator delete(void* p) noexcept
{
    Untrack(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    Untrack(p);
    std::free(p);
}

namespace {

class Requests : public ClientFixture {
protected:
    // Requests go out on an established link only.
    void SetUp() override
    {
        ClientFixture::SetUp();
        Start();
        world().Reset();
    }

    std::vector<std::string> storage;
    std::vector<char*> ids;

    char** Ids(int count, int width)
    {
        storage.clear();
        ids.clear();
        for (int i = 0; i < count; ++i) {
            std::string id = std::to_string(i);
            storage.push_back(std::string(static_cast<std::size_t>(width) - id.size(), 'i') + id);
        }
        for (std::string& s : storage)
            ids.push_back(&s[0]);
        return ids.data();
    }

    std::string Joined() const
    {
        std::string all;
        for (std::size_t i = 0; i < world().sent.size(); ++i)
            all += (all.empty() ? "" : "|") + SentBody(i);
        return all;
    }

    fake::World& world() const { return fake::World::Get(); }
};

using Op = int (CThostFtdcMdApi::*)(char**, int);

struct ListCase {
    Op op;
    int resultForNone;
    const char* tag;
    const char* text;
};

const ListCase Cases[] = {
    {&CThostFtdcMdApi::SubscribeMarketData, -1, "--Sub", "Subscribe market [%s]"},
    {&CThostFtdcMdApi::UnSubscribeMarketData, 0, "UnSub", "UnSubscribe market [%s]"},
    {&CThostFtdcMdApi::SubscribeForQuoteRsp, -1, "Sub", "Subscribe ForQuoteRsp [%s]"},
    {&CThostFtdcMdApi::UnSubscribeForQuoteRsp, 0, "UnSub", "UnSubscribe ForQuoteRsp [%s]"},
};

TEST_F(Requests, ZeroAndNegativeCountsSendAndLogNothing)
{
    for (const ListCase& c : Cases) {
        world().Reset();
        EXPECT_EQ((api->*c.op)(Ids(3, 9), 0), c.resultForNone) << c.tag;
        EXPECT_EQ((api->*c.op)(Ids(3, 9), -2), 0) << c.tag;
        EXPECT_EQ((api->*c.op)(nullptr, 0), c.resultForNone) << c.tag;
        EXPECT_TRUE(world().sent.empty());
        EXPECT_TRUE(world().lines.empty());
    }
}

TEST_F(Requests, NullIdArrayOrNullIdIsRefusedWithoutATrace)
{
    for (const ListCase& c : Cases) {
        world().Reset();
        EXPECT_EQ((api->*c.op)(nullptr, 2), -1) << c.tag;
        char** list = Ids(3, 9);
        list[2] = nullptr;
        EXPECT_EQ((api->*c.op)(list, 3), -1) << c.tag;
        EXPECT_EQ((api->*c.op)(list, 2), 0) << c.tag; // the null lies past the count
        EXPECT_EQ(world().sent.size(), 1u);
        EXPECT_EQ(world().lines.size(), 2u);
    }
}

TEST_F(Requests, EachIdIsLoggedWithTheOperationsTagAndText)
{
    for (const ListCase& c : Cases) {
        world().Reset();
        char a[] = "ab", b[] = "cd";
        char* list[] = {a, b};
        ASSERT_EQ((api->*c.op)(list, 2), 0);
        ASSERT_EQ(world().lines.size(), 2u);
        char expected[64];
        std::snprintf(expected, sizeof expected, c.text, "cd");
        EXPECT_EQ(world().lines[1].level, 3);
        EXPECT_EQ(world().lines[1].text,
                  std::string("<app>[   KVMDApi][") + std::string(12 - std::strlen(c.tag), ' ') + c.tag +
                      "] - " + expected);
        EXPECT_EQ(SentBody(0), "ab|cd");
        EXPECT_EQ(SentHeader(0).BodyLength, 5u);
        EXPECT_EQ(SentHeader(0).RequestId, 3);
    }
}

struct CutCase {
    int count;
    std::vector<int> requestIds;
    std::vector<std::uint32_t> lengths;
};

TEST_F(Requests, TextIsCutAt512BytesWithTheRequestIdRule)
{
    const CutCase cases[] = {
        {3, {4}, {29}},
        {52, {52}, {519}},
        {53, {52, 3}, {519, 9}},
        {100, {52, 50}, {519, 479}},
        {156, {52, 53, 53}, {519, 519, 519}},
    };
    for (const CutCase& c : cases) {
        world().Reset();
        ASSERT_EQ(api->SubscribeMarketData(Ids(c.count, 9), c.count), 0);
        ASSERT_EQ(world().sent.size(), c.requestIds.size()) << c.count << " ids";
        for (std::size_t f = 0; f < c.requestIds.size(); ++f) {
            EXPECT_EQ(SentHeader(f).RequestId, c.requestIds[f]) << c.count << " ids, frame " << f;
            EXPECT_EQ(SentHeader(f).BodyLength, c.lengths[f]) << c.count << " ids, frame " << f;
            EXPECT_EQ(SentBody(f).size(), c.lengths[f]);
            EXPECT_NE(SentBody(f).back(), '|');
        }
        std::string all;
        for (int i = 0; i < c.count; ++i)
            all += (i ? "|" : "") + storage[static_cast<std::size_t>(i)];
        EXPECT_EQ(Joined(), all);
        EXPECT_EQ(world().lines.size(), static_cast<std::size_t>(c.count));
    }
}

TEST_F(Requests, AnIdOf511BytesOrMoreEndsItsFrame)
{
    ASSERT_EQ(api->SubscribeMarketData(Ids(1, 600), 1), 0);
    ASSERT_EQ(world().sent.size(), 1u);
    EXPECT_EQ(SentHeader(0).BodyLength, 600u);
    EXPECT_EQ(SentHeader(0).RequestId, 1);

    world().Reset();
    char** list = Ids(3, 511);
    ASSERT_EQ(api->UnSubscribeMarketData(list, 3), 0);
    ASSERT_EQ(world().sent.size(), 3u);
    EXPECT_EQ(SentHeader(0).RequestId, 1);
    EXPECT_EQ(SentHeader(1).RequestId, 2);
    EXPECT_EQ(SentHeader(2).RequestId, 2);
    EXPECT_EQ(SentBody(2), storage[2]);
}

TEST_F(Requests, EmptyIdsLeaveTheirSeparators)
{
    char a[] = "", b[] = "x", c[] = "";
    char* list[] = {a, b, c};
    ASSERT_EQ(api->SubscribeMarketData(list, 3), 0);
    EXPECT_EQ(SentBody(0), "|x|");
    EXPECT_EQ(SentBody(0).find('\0'), std::string::npos);
}

TEST_F(Requests, TickOfEachFrameIsWhenThePreviousOneWasAccepted)
{
    world().now = 1000;
    world().sendCost = 7;
    ASSERT_EQ(api->SubscribeMarketData(Ids(156, 9), 156), 0);
    ASSERT_EQ(world().sent.size(), 3u);
    EXPECT_EQ(SentHeader(0).Tick, 1000u);
    EXPECT_EQ(SentHeader(1).Tick, 1007u);
    EXPECT_EQ(SentHeader(2).Tick, 1014u);
}

TEST_F(Requests, RefusedSecondFrameStopsTheCallAndIsDestroyed)
{
    world().Reset();
    world().sendScript = {1, 0};
    {
        std::lock_guard<std::mutex> lock(g_trackMutex);
        g_trackedCount = 0;
        g_tracking = true;
    }
    const int result = api->SubscribeMarketData(Ids(156, 9), 156);
    int live = 0;
    {
        std::lock_guard<std::mutex> lock(g_trackMutex);
        g_tracking = false;
        live = g_trackedCount;
    }
    EXPECT_EQ(result, -1);
    ASSERT_EQ(world().sent.size(), 1u);
    EXPECT_EQ(SentHeader(0).RequestId, 52);
    EXPECT_EQ(world().refusedSends, 1);
    // Ids of the second frame were logged up to the one that cut it; none of the third.
    EXPECT_EQ(world().lines.size(), 104u);
    EXPECT_EQ(live, 0) << "a frame string was not destroyed";
}

TEST_F(Requests, RefusedClosingFrameFails)
{
    world().sendScript = {0};
    EXPECT_EQ(api->SubscribeForQuoteRsp(Ids(2, 9), 2), -1);
    EXPECT_TRUE(world().sent.empty());
}

TEST_F(Requests, AnyNonzeroSendResultCountsForSubscriptionsButOnlyOneForLogin)
{
    world().sendScript = {2};
    EXPECT_EQ(api->SubscribeMarketData(Ids(1, 9), 1), 0);
    world().Reset();
    world().sendScript = {2};
    CThostFtdcReqUserLoginField req{};
    EXPECT_EQ(api->ReqUserLogin(&req, 1), -1);
    world().sendScript = {0};
    EXPECT_EQ(api->ReqUserLogin(&req, 1), -1);
    world().sendScript = {1};
    EXPECT_EQ(api->ReqUserLogin(&req, 1), 0);
    EXPECT_TRUE(world().lines.empty()) << "login writes no record";
}

#if defined(_WIN32)
// The application may be built by another compiler: no exception leaves the
// library, a failed allocation ends the call with its failure value.
TEST_F(Requests, OnWindowsAnAllocationFailureStaysInsideTheLibrary)
{
    char** list = Ids(2, 6);
    CThostFtdcReqUserLoginField login = {};
    g_failAllocations = true;
    const int subscribed = api->SubscribeMarketData(list, 2);
    const int loggedIn = api->ReqUserLogin(&login, 1);
    api->RegisterFront(const_cast<char*>("tcp://127.0.0.1:7001"));
    CThostFtdcMdApi* created = CThostFtdcMdApi::CreateFtdcMdApi();
    g_failAllocations = false;
    EXPECT_EQ(subscribed, -1);
    EXPECT_EQ(loggedIn, -1);
    EXPECT_EQ(created, nullptr);
}
#endif

using NotConnected = ClientFixture;

TEST_F(NotConnected, ARequestBeforeTheLinkIsUpIsRefused)
{
    Start({"tcp://127.0.0.1:7000"}, false);
    char id[] = "au2612";
    char* ids[] = {id};
    CThostFtdcReqUserLoginField login = {};
    EXPECT_EQ(api->SubscribeMarketData(ids, 1), -1);
    EXPECT_EQ(api->ReqUserLogin(&login, 1), -1);
    fake::ConnectOk(conn);
    EXPECT_EQ(api->SubscribeMarketData(ids, 1), 0);
    EXPECT_EQ(world().sent.size(), 1u);
}

} // namespace
