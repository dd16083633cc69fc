// Shared pieces of the end-to-end tests: the library, used like an
// application through MdApi.h only, against in-process front simulators.
//
//   Session      a recording CThostFtdcMdSpi that also runs the usual
//                application session (log in on every OnFrontConnected,
//                subscribe after a good login) and can Release its client
//                from inside a chosen callback
//   ClientTest   fixture: its own working directory, fronts, one client
//   Witness      a second client retrying a refusing port: its failures
//                prove that a reconnect delay has passed on the loop
#pragma once

#include "ChangeSignal.h"
#include "DepthText.h"
#include "FrontServer.h"
#include "MdApi.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using mdfront::Bytes;
using Depth = CThostFtdcDepthMarketDataField;

// Every wait is bounded by this: sanitizer builds on two busy cores are slow.
constexpr std::chrono::milliseconds Patience = 60s;

constexpr int ReasonLinkLost = 0x2001;
constexpr int ReasonHeartBeatTimeout = 0x2002;

enum class Kind { Connected, Disconnected, Login, SubMd, UnSubMd, SubQuote, UnSubQuote, Depth, Quote };

struct Event {
    Kind kind = Kind::Connected;
    int reason = 0;
    int requestId = 0;
    bool isLast = false;
    bool hasInfo = false;
    CThostFtdcRspInfoField info{};
    CThostFtdcRspUserLoginField login{};
    CThostFtdcSpecificInstrumentField instrument{};
    Depth depth{};
    CThostFtdcForQuoteRspField quote{};
};

class Session final : public CThostFtdcMdSpi {
public:
    // Waits for a callback that is still returning.
    ~Session();

    // Set before Init.
    CThostFtdcMdApi* api = nullptr;
    bool login = true;
    std::vector<std::string> instruments;      // market data, after each good login
    std::vector<std::string> quotes;           // for-quote notices, likewise
    bool keepDepth = true;                     // false: depth records are only counted
    std::optional<Kind> releaseOn;             // Release from inside the first such callback
    std::function<void(const Event&)> onEvent; // in every callback, after the session's steps

    std::vector<Event> Events() const;
    std::vector<Event> Of(Kind kind) const;
    std::size_t Count(Kind kind) const;
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = Patience);
    bool WaitCount(Kind kind, std::size_t n, std::chrono::milliseconds limit = Patience);

    // Whoever claims first releases the client: the releaseOn callback or
    // the test's thread. Released() once that Release has returned; a
    // callback that starts after that is a late call.
    bool ClaimRelease() { return !claimed_.exchange(true); }
    void MarkReleased() { released_.store(true); }
    bool Released() const { return released_.load(); }
    int LateCalls() const { return late_.load(); }
    // Callbacks running now.
    int Active() const { return active_.load(); }

    void OnFrontConnected() override;
    void OnFrontDisconnected(int nReason) override;
    void OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int requestId,
                        bool isLast) override;
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                            int requestId, bool isLast) override;
    void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                              int requestId, bool isLast) override;
    void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                             int requestId, bool isLast) override;
    void OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                               int requestId, bool isLast) override;
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth) override;
    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* quote) override;

private:
    void Record(Event e);
    void Act(const Event& e);
    void Response(Kind kind, CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                  int requestId, bool isLast);

    mutable std::mutex mu_;
    mdtools::ChangeSignal changes_;
    std::vector<Event> events_;
    std::vector<std::size_t> counts_ = std::vector<std::size_t>(9);
    int requestId_ = 0;
    std::atomic<bool> claimed_{false};
    std::atomic<bool> released_{false};
    std::atomic<int> late_{0};
    std::atomic<int> active_{0};
};

// A loopback port that refuses connections: bound, never listening, so no
// other program can take it meanwhile.
class RefusingPort {
public:
    RefusingPort();
    std::string Address() const;

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor socket_{io_};
};

class Witness {
public:
    explicit Witness(const std::string& front);
    ~Witness();
    // Waits until the witness has failed n more times from now.
    bool WaitFailures(std::size_t n);

private:
    Session session_;
    CThostFtdcMdApi* api_;
};

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Known instruments, a fixed trading day, a quick rate.
    static mdfront::FrontConfig BaseConfig(mdfront::DepthForm form = mdfront::DepthForm::Binary);
    mdfront::FrontServer& AddFront(const mdfront::FrontConfig& config);
    static std::string Address(const mdfront::FrontServer& front);
    // Creates the client, registers session and fronts, and runs Init.
    void StartClient(const std::vector<std::string>& fronts);
    // Releases the client unless the session released it already.
    void ReleaseClient();

    // A pointer, so that a test can destroy it right after Release.
    std::unique_ptr<Session> session_ = std::make_unique<Session>();
    CThostFtdcMdApi* api_ = nullptr;
    std::vector<std::unique_ptr<mdfront::FrontServer>> fronts_;
    RefusingPort refusing_;
    std::filesystem::path dir_;

private:
    std::filesystem::path previousDir_;
};

// "" when every member agrees, else the names of the members that differ.
std::string DepthDiff(const Depth& want, const Depth& got);

// A record read from a body of any length: its bytes, zero past the body.
template <class Record>
Record FromBody(const Bytes& body)
{
    Record r;
    std::memset(&r, 0, sizeof r);
    std::memcpy(&r, body.data(), std::min(body.size(), sizeof r));
    return r;
}

template <class Record>
std::string RecordBytes(const Record& r)
{
    return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

// Frames of one type that the front queued whole on a connection, in order.
std::vector<mdfront::SentFrame> SentOfType(const mdfront::ConnectionRecord& conn, std::uint32_t msgType);

// The record a correct client delivers for a depth frame the front sent.
Depth ExpectedDepth(const mdfront::SentFrame& frame, const mdfront::FrontConfig& config, bool first);

// Whole lines of the client's log file of today (or of yesterday, should the
// test run across midnight).
std::vector<std::string> LogLines();

struct ProcessCounts {
    long residentKiB = 0;
    long threads = 0;
    long fds = 0;
};
// Linux only; zeros elsewhere.
ProcessCounts CountProcess();
// The kernel lets a join return before it stops listing the joined thread
// in /proc, so a count taken just after a join may still include it. Waits
// (within the patience) until at most `limit` threads are listed and returns
// the count then; 0 where threads are not counted.
long ThreadsOnceAtMost(long limit);

// True in builds whose memory use a sanitizer inflates.
constexpr bool Sanitized()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

} // namespace e2e
