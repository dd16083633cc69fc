// One client of the library as the Python layer drives it: the
// CThostFtdcMdSpi that logs in on every connection and subscribes again to
// what was subscribed, and turns callbacks into queued records and events or
// calls into the handler; and the operations Python calls (requests, waits
// for events and the login, close).
#pragma once

#include "DepthQueue.h"
#include "Events.h"

#include "MdApi.h"
#include "RedundantMdApi.h"

#include <pybind11/pybind11.h>

#ifdef MDLINK_CAPTURE
#include "CaptureWriter.h"
#endif

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace mdpy {

struct ClosedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::vector<std::string> fronts;
    std::string broker, user, password; // checked and encoded by the Python layer
    std::size_t queueSize = 65536;
    std::size_t eventQueueSize = 4096;
    pybind11::object encoding;          // str, or None for the default
    pybind11::object depthCallback;     // None: depth records are queued
    pybind11::object eventCallback;     // called with an event tuple for the kinds in callKinds
    std::vector<std::string> pushKinds; // handled by eventCallback alone, not queued
    std::vector<std::string> callKinds; // passed to eventCallback (pushKinds and more)
    int links = 1;                      // 2 or more: a redundant client of that many links
    std::string captureDir;             // "": no capture; else every delivered depth record is written there
    std::string captureWriter;          // the program named in the capture's header
};

// The ids a client keeps subscribed, in the order they were first
// subscribed: adding or removing an id costs the same however many there
// are. Not thread-safe.
class Subscriptions {
public:
    // Adds (or removes) each id that is not (or is) kept.
    void Apply(char* const* ids, std::size_t count, bool subscribe);
    // Room for `more` ids at once, rather than growing step by step.
    void Reserve(std::size_t more);
    std::vector<std::string> Ids() const;

private:
    void Compact();

    std::vector<std::string> order_;                  // removed ids left empty
    std::unordered_map<std::string, std::size_t> at_; // id -> its place in order_
};

class Session final : public CThostFtdcMdSpi,
                      private mdlink::RedundantLinkWatcher,
                      public std::enable_shared_from_this<Session> {
public:
    explicit Session(Options o);
    // Runs with the GIL held: from Python's deallocation, or on the loop
    // thread when a callback held the last reference.
    ~Session();

    void Start();
    // Idempotent. The first close releases the client; every other closer
    // outside a callback waits until that is done and no callback runs.
    // From inside a callback it returns at once (the library finishes the
    // teardown when the callback returns).
    void Close();
    bool Closed() const { return closed_.load(); }
    // In a child made by fork(): the client is the parent's. It becomes
    // closed there; a later Close releases it (the library makes such a
    // client inert in the child).
    void ForgetAfterFork();

    // `ids`: the ids, encoded and checked already, each followed by a NUL.
    // 0, or the library's -1. Runs with the GIL let go.
    int Request(std::string& ids, bool forQuote, bool subscribe);
    pybind11::object NextEvent(double timeout);
    // (ok, login record or None, rsp info or None) once logged in or
    // refused; None after the timeout or once closed.
    pybind11::object WaitLogin(double timeout);
    // Waits until the client is closed and no callback of it runs.
    bool Join(double timeout);

    const std::shared_ptr<DepthQueue>& Depth() const { return depth_; }
    std::size_t EventsQueued();
    std::uint64_t EventsDropped() const { return eventsDropped_.load(std::memory_order_relaxed); }
    std::uint64_t CallbackErrors() const { return callbackErrors_.load(std::memory_order_relaxed); }
    bool Connected() const { return connected_.load(); }
    bool LoggedIn();
    // The reason of the last disconnection, None before any.
    pybind11::object LastReason();
    // One dict per link of a redundant client (none for a single link, or
    // once closed).
    pybind11::list LinkCounters();
    // The capture's counters (CaptureStats), None without one.
    pybind11::object CaptureCounters();

    // Lets the garbage collector see the callbacks this object holds.
    int Traverse(visitproc visit, void* arg);

    // ---- library callbacks (loop thread) ----
    void OnFrontConnected() override;
    void OnFrontDisconnected(int reason) override;
    void OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int id,
                        bool last) override;
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info, int id,
                            bool last) override;
    void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info, int id,
                              bool last) override;
    void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info, int id,
                             bool last) override;
    void OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info, int id,
                               bool last) override;
    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* notice) override;
    // A redundant client's links (RedundantLinkWatcher), on the loop thread.
    void OnLinkUp(int link, const char* fronts) override;
    void OnLinkDown(int link, const char* fronts, int reason) override;
    void LinkEvent(EventKind kind, int link, const char* fronts, int reason);
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override;

private:
    enum class Life { Open, Closing, Closed };
    class Finish;

    WaitRoom& Room() { return depth_->Room(); }
    CThostFtdcMdApi* TakeApi();
    int Send(std::vector<std::string>& ids, bool forQuote, bool subscribe);
    int Send(std::vector<char*>& ids, bool forQuote, bool subscribe);
    void Answer(EventKind kind, CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info, int id,
                bool last);
    void Deliver(const EventRecord& e);
    void Queue(const EventRecord& e);
    pybind11::object EventTuple(const EventRecord& e);
    template <class F>
    void Guard(F f);
    template <class F>
    void Python(const char* what, F f);

    Options opt_;
    std::shared_ptr<DepthQueue> depth_;
#ifdef MDLINK_CAPTURE
    // Set before the client starts and kept until the Session goes: the
    // loop thread adds to it without a lock.
    std::unique_ptr<mdcapture::Writer> capture_;
#endif
    PyObject* encoding_; // borrowed from opt_.encoding

    // Under Room().mu:
    Life life_ = Life::Open;
    std::deque<EventRecord> events_;
    LoginState loginState_ = LoginState::None;
    CThostFtdcRspUserLoginField login_{};
    CThostFtdcRspInfoField loginInfo_{};
    bool loginHasInfo_ = false;
    bool hasReason_ = false;
    int lastReason_ = 0;

    // What is subscribed, under its own lock: the loop thread takes it only
    // to copy the lists at a login, and a request holds it for a slice of
    // its ids at a time.
    std::mutex subscriptionsMu_;
    Subscriptions instruments_, forQuotes_;
    std::mutex requestMu_; // one request at a time, in the order they came

    std::mutex apiMu_; // api_ against Close
    CThostFtdcMdApi* api_ = nullptr;
    mdlink::CRedundantMdApi* redundant_ = nullptr; // api_ when it has links
    int requestId_ = 0;                            // loop thread only

    bool push_[static_cast<int>(EventKind::Count)] = {};
    bool call_[static_cast<int>(EventKind::Count)] = {};
    bool pushDepth_ = false;
    std::atomic<bool> closed_{false};
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> eventsDropped_{0}, callbackErrors_{0};
};

} // namespace mdpy
