// mdlink._core: one market-data client as the Python layer sees it.
//
//   loop thread (library)                 Python threads
//   ---------------------                 --------------
//   OnFrontConnected -> ReqUserLogin
//   OnRspUserLogin ok -> re-subscribe
//   depth  -> DepthRing (bounded) ------> next_depth / batch   (GIL released while waiting)
//   events -> event queue (bounded) ----> next_event
//   or, for what the handler takes: GIL acquired, handler called, exceptions logged
//
// The loop thread never holds `mu_` or `apiMu_` while it asks for the GIL, and
// every call that may wait for the loop thread (Init, Release, requests) runs
// with the GIL released: the loop thread may be waiting for the GIL to run a
// Python callback.
#include "Queues.h"
#include "Records.h"

#include "MdApi.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace py = pybind11;

namespace mdpy {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t ReadChunk = 256;   // records a reader takes per lock
constexpr std::size_t CopyChunk = 4096;  // records a batch copies per lock

struct ClosedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool Finalizing()
{
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

// The event of a response: its kind, its request and place in the answer,
// and the front's error information when it sent some.
EventRecord Response(EventKind kind, int id, bool last, const CThostFtdcRspInfoField* info)
{
    EventRecord e;
    e.kind = kind;
    e.requestId = id;
    e.isLast = last;
    e.hasInfo = info != nullptr;
    if (info)
        e.info = *info;
    return e;
}

void CopyText(char* dst, std::size_t width, const std::string& text)
{
    std::memset(dst, 0, width);
    std::memcpy(dst, text.data(), std::min(text.size(), width - 1));
}

// Holds the GIL on the loop thread for one callback. The first use keeps a
// thread state for that thread for good, so later callbacks do not create
// and destroy one each.
class LoopGil {
public:
    LoopGil()
    {
        thread_local bool primed = false;
        if (!primed) {
            PyGILState_Ensure();
            PyEval_SaveThread();
            primed = true;
        }
        state_ = PyGILState_Ensure();
    }
    ~LoopGil() { PyGILState_Release(state_); }
    LoopGil(const LoopGil&) = delete;
    LoopGil& operator=(const LoopGil&) = delete;

private:
    PyGILState_STATE state_;
};

struct Options {
    std::vector<std::string> fronts;
    std::string broker, user, password;
    std::size_t queueSize = 65536;
    std::size_t eventQueueSize = 4096;
    py::object encoding;       // str, or None for the default
    py::object depthCallback;  // None: depth records are queued
    py::object eventCallback;  // called with an event tuple for the kinds in pushKinds
    std::vector<std::string> pushKinds;
};

class Session final : public CThostFtdcMdSpi, public std::enable_shared_from_this<Session> {
public:
    explicit Session(const Options& o)
        : opt_(o), ring_(std::max<std::size_t>(1, o.queueSize)),
          encoding_(o.encoding.is_none() ? nullptr : o.encoding.ptr())
    {
        for (const std::string& k : o.pushKinds) {
            auto it = std::find(std::begin(EventNames), std::end(EventNames), k);
            if (it == std::end(EventNames))
                throw py::value_error("unknown event kind: " + k);
            push_[it - std::begin(EventNames)] = true;
        }
        pushDepth_ = !o.depthCallback.is_none();
    }

    // Runs with the GIL held: from Python's deallocation, or on the loop
    // thread when a callback held the last reference.
    ~Session()
    {
        try {
            Close();
        } catch (...) {
        }
    }

    void Start()
    {
        CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
        if (!api)
            throw std::runtime_error("the library could not create a client");
        py::gil_scoped_release unlocked;
        {
            std::lock_guard<std::mutex> lk(apiMu_);
            api_ = api;
        }
        api->RegisterSpi(this);
        for (const std::string& f : opt_.fronts) {
            std::vector<char> text(f.begin(), f.end());
            text.push_back('\0');
            api->RegisterFront(text.data());
        }
        api->Init();
    }

    // Idempotent; from inside a callback it returns at once (the library
    // finishes the teardown when the callback returns).
    void Close()
    {
        if (closing_.exchange(true))
            return;
        {
            py::gil_scoped_release unlocked;
            {
                std::lock_guard<std::mutex> lk(mu_);
                closed_ = true;
            }
            cv_.notify_all();
            CThostFtdcMdApi* api;
            {
                std::lock_guard<std::mutex> lk(apiMu_);
                api = api_;
                api_ = nullptr;
            }
            if (api)
                api->Release();
        }
        // No callback runs or can start now (or, from inside one, no other
        // will follow): the Python objects may go.
        opt_.depthCallback = py::none();
        opt_.eventCallback = py::none();
    }

    bool Closed() const { return closing_.load(); }

    int Request(const std::vector<std::string>& ids, bool forQuote, bool subscribe)
    {
        if (Closed())
            throw ClosedError("the client is closed");
        std::vector<std::string>& list = forQuote ? forQuotes_ : instruments_;
        bool loggedIn;
        {
            std::lock_guard<std::mutex> lk(mu_);
            for (const std::string& id : ids) {
                auto it = std::find(list.begin(), list.end(), id);
                if (subscribe && it == list.end())
                    list.push_back(id);
                else if (!subscribe && it != list.end())
                    list.erase(it);
            }
            loggedIn = loginState_ == LoginState::Ok;
        }
        if (!loggedIn || ids.empty())
            return 0; // sent after the next login
        py::gil_scoped_release unlocked;
        return Send(ids, forQuote, subscribe);
    }

    // Next depth record, or None after `timeout` seconds (negative: no limit)
    // or once the client is closed and nothing is left.
    py::object NextDepth(double timeout)
    {
        if (pendingPos_ == pending_.size() && !Refill(timeout))
            return py::none();
        const Depth& d = pending_[pendingPos_++].d;
        return Steal(NewRecord(RecordKind::Depth, &d, sizeof d, encoding_));
    }

    // Up to `max` records as one bytearray of whole records, waiting up to
    // `timeout` until `least` are queued (then taking what there is).
    py::object TakeBatch(std::size_t max, double timeout, std::size_t least)
    {
        least = std::max<std::size_t>(1, std::min({least, max, opt_.queueSize}));
        const std::size_t ready = pending_.size() - pendingPos_;
        if (max == 0 || (ready < least && !WaitForDepth(timeout, least - ready) &&
                         ready == 0 && Queued() == 0))
            return Steal(PyByteArray_FromStringAndSize(nullptr, 0));
        std::size_t queued;
        {
            std::lock_guard<std::mutex> lk(mu_);
            queued = ring_.Size();
        }
        std::size_t count = std::min(max, pending_.size() - pendingPos_ + queued);
        py::object out = Steal(PyByteArray_FromStringAndSize(
            nullptr, static_cast<Py_ssize_t>(count * sizeof(Depth))));
        Depth* dst = reinterpret_cast<Depth*>(PyByteArray_AS_STRING(out.ptr()));
        std::size_t n = std::min(count, pending_.size() - pendingPos_);
        std::memcpy(static_cast<void*>(dst), pending_.data() + pendingPos_, n * sizeof(Depth));
        pendingPos_ += n;
        {
            py::gil_scoped_release unlocked;
            while (n < count) {
                std::lock_guard<std::mutex> lk(mu_);
                const std::size_t got = ring_.Pop(dst + n, std::min(CopyChunk, count - n));
                if (got == 0)
                    break; // another reader took some
                n += got;
            }
        }
        if (n < count && PyByteArray_Resize(out.ptr(), static_cast<Py_ssize_t>(n * sizeof(Depth))) < 0)
            throw py::error_already_set();
        return out;
    }

    py::object NextEvent(double timeout)
    {
        EventRecord e;
        bool got = WaitFor(timeout, [&] {
            if (events_.empty())
                return false;
            e = events_.front();
            events_.pop_front();
            return true;
        });
        return got ? EventTuple(e) : py::none();
    }

    // (ok, login record or None, rsp info or None) once logged in or refused;
    // None after the timeout or once closed.
    py::object WaitLogin(double timeout)
    {
        LoginState state = LoginState::None;
        CThostFtdcRspUserLoginField login{};
        CThostFtdcRspInfoField info{};
        bool hasInfo = false;
        bool got = WaitFor(timeout, [&] {
            if (loginState_ == LoginState::None)
                return false;
            state = loginState_;
            login = login_;
            info = loginInfo_;
            hasInfo = loginHasInfo_;
            return true;
        });
        if (!got)
            return py::none();
        py::object infoObj = hasInfo ? Steal(NewRecord(RecordKind::RspInfo, &info, sizeof info, encoding_))
                                     : py::none();
        return py::make_tuple(state == LoginState::Ok,
                              Steal(NewRecord(RecordKind::Login, &login, sizeof login, encoding_)),
                              infoObj);
    }

    // Waits until the client is closed (by another thread or a callback)
    // and no callback of it runs any more.
    bool Join(double timeout)
    {
        if (insideCallback)
            return Closed(); // waiting here would wait for itself
        return WaitFor(timeout, [&] { return closed_ && running_ == 0; }, false);
    }

    std::size_t Queued()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return ring_.Size() + pending_.size() - pendingPos_;
    }

    std::size_t EventsQueued()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return events_.size();
    }

    int Waiting()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return waiters_;
    }

    std::uint64_t received() const { return received_.load(std::memory_order_relaxed); }
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
    std::uint64_t eventsDropped() const { return eventsDropped_.load(std::memory_order_relaxed); }
    std::uint64_t callbackErrors() const { return callbackErrors_.load(std::memory_order_relaxed); }
    bool connected() const { return connected_.load(); }
    bool loggedIn()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return loginState_ == LoginState::Ok;
    }
    std::size_t queueSize() const { return opt_.queueSize; }

    // Lets the garbage collector see the callbacks this object holds.
    int Traverse(visitproc visit, void* arg)
    {
        Py_VISIT(opt_.depthCallback.ptr());
        Py_VISIT(opt_.eventCallback.ptr());
        return 0;
    }

    // ---- library callbacks (loop thread) ----

    void OnFrontConnected() override
    {
        Guard([&] {
            connected_ = true;
            {
                std::lock_guard<std::mutex> lk(mu_);
                loginState_ = LoginState::None;
            }
            CThostFtdcReqUserLoginField req;
            std::memset(&req, 0, sizeof req);
            CopyText(req.BrokerID, sizeof req.BrokerID, opt_.broker);
            CopyText(req.UserID, sizeof req.UserID, opt_.user);
            CopyText(req.Password, sizeof req.Password, opt_.password);
            CopyText(req.UserProductInfo, sizeof req.UserProductInfo, "mdlink-py");
            {
                std::lock_guard<std::mutex> lk(apiMu_);
                if (api_)
                    api_->ReqUserLogin(&req, ++requestId_);
            }
            EventRecord e;
            e.kind = EventKind::Connected;
            Deliver(e);
        });
    }

    void OnFrontDisconnected(int reason) override
    {
        Guard([&] {
            connected_ = false;
            {
                std::lock_guard<std::mutex> lk(mu_);
                loginState_ = LoginState::None;
            }
            EventRecord e;
            e.kind = EventKind::Disconnected;
            e.reason = reason;
            Deliver(e);
        });
    }

    void OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int id,
                        bool last) override
    {
        Guard([&] {
            const bool ok = !info || info->ErrorID == 0;
            std::vector<std::string> instruments, forQuotes;
            {
                std::lock_guard<std::mutex> lk(mu_);
                loginState_ = ok ? LoginState::Ok : LoginState::Failed;
                login_ = login ? *login : CThostFtdcRspUserLoginField{};
                loginHasInfo_ = info != nullptr;
                loginInfo_ = info ? *info : CThostFtdcRspInfoField{};
                if (ok) {
                    instruments = instruments_;
                    forQuotes = forQuotes_;
                }
            }
            cv_.notify_all();
            // Every (re)connection starts with no subscription at the front.
            if (!instruments.empty())
                Send(instruments, false, true);
            if (!forQuotes.empty())
                Send(forQuotes, true, true);
            EventRecord e = Response(EventKind::Login, id, last, info);
            e.hasLogin = login != nullptr;
            if (login)
                e.login = *login;
            Deliver(e);
        });
    }

    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info,
                            int id, bool last) override
    {
        Answer(EventKind::Subscribed, i, info, id, last);
    }
    void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info,
                              int id, bool last) override
    {
        Answer(EventKind::Unsubscribed, i, info, id, last);
    }
    void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info,
                             int id, bool last) override
    {
        Answer(EventKind::ForQuoteSubscribed, i, info, id, last);
    }
    void OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info,
                               int id, bool last) override
    {
        Answer(EventKind::ForQuoteUnsubscribed, i, info, id, last);
    }

    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* notice) override
    {
        Guard([&] {
            EventRecord e;
            e.kind = EventKind::ForQuote;
            e.hasNotice = notice != nullptr;
            if (notice)
                e.notice = *notice;
            Deliver(e);
        });
    }

    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override
    {
        if (!d)
            return;
        received_.fetch_add(1, std::memory_order_relaxed);
        if (pushDepth_) {
            CallPython("on_depth", [&] {
                py::object tick = Steal(NewRecord(RecordKind::Depth, d, sizeof *d, encoding_));
                py::object callback = opt_.depthCallback; // a close inside may drop the member
                callback(tick);
            });
            return;
        }
        bool wake;
        {
            std::lock_guard<std::mutex> lk(mu_);
            if (ring_.Push(*d))
                dropped_.fetch_add(1, std::memory_order_relaxed);
            // A reader waiting for one record is woken by the first; one
            // waiting for more, once when the queue reaches its count. Not
            // once per record: a wake-up is a system call.
            wake = waiters_ > 0 && (ring_.Size() == 1 || ring_.Size() == wakeAt_);
        }
        if (wake)
            cv_.notify_all();
    }

private:
    static py::object Steal(PyObject* p)
    {
        if (!p)
            throw py::error_already_set();
        return py::reinterpret_steal<py::object>(p);
    }

    // Runs f under `mu_` each time the state may have changed, until it
    // returns true, the client is closed or the time is up. The GIL is
    // released while waiting; Ctrl-C (any signal handler raising) ends it.
    template <class F>
    bool WaitFor(double timeout, F f, bool endOnClose = true)
    {
        const bool forever = timeout < 0;
        const Clock::time_point deadline =
            forever ? Clock::time_point::max()
                    : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(timeout));
        for (;;) {
            bool got = false, over = false;
            {
                py::gil_scoped_release unlocked;
                std::unique_lock<std::mutex> lk(mu_);
                // Wake up now and then to let Python run its signal handlers.
                const Clock::time_point slice =
                    std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
                ++waiters_;
                cv_.wait_until(lk, slice, [&] { return (got = f()) || (endOnClose && closed_); });
                --waiters_;
                over = (endOnClose && closed_) || (!forever && Clock::now() >= deadline);
            }
            if (got)
                return true;
            if (over)
                return false;
            if (PyErr_CheckSignals() != 0)
                throw py::error_already_set();
        }
    }

    bool WaitForDepth(double timeout, std::size_t least)
    {
        {
            std::lock_guard<std::mutex> lk(mu_);
            wakeAt_ = std::min(wakeAt_, least);
        }
        const bool got = WaitFor(timeout, [&] { return ring_.Size() >= least; });
        std::lock_guard<std::mutex> lk(mu_);
        wakeAt_ = ~std::size_t(0);
        return got;
    }

    // Fills `pending_` from the ring; false when nothing came in time. The
    // records are taken into a buffer of this call's own: another reader may
    // run while the GIL is released.
    bool Refill(double timeout)
    {
        std::vector<Slot> buf;
        buf.swap(spare_);
        buf.resize(ReadChunk);
        std::size_t n = 0;
        WaitFor(timeout, [&] {
            n = ring_.Pop(&buf[0].d, ReadChunk);
            return n > 0;
        });
        buf.resize(n);
        if (pendingPos_ == pending_.size()) {
            pending_.swap(buf);
            pendingPos_ = 0;
        } else {
            pending_.insert(pending_.end(), buf.begin(), buf.end());
        }
        buf.clear();
        spare_.swap(buf);
        return pendingPos_ < pending_.size();
    }

    int Send(const std::vector<std::string>& ids, bool forQuote, bool subscribe)
    {
        std::vector<char*> ptrs;
        std::vector<std::string> copies(ids);
        for (std::string& id : copies)
            ptrs.push_back(&id[0]);
        const int n = static_cast<int>(ptrs.size());
        std::lock_guard<std::mutex> lk(apiMu_);
        if (!api_)
            return -1;
        if (forQuote)
            return subscribe ? api_->SubscribeForQuoteRsp(ptrs.data(), n)
                             : api_->UnSubscribeForQuoteRsp(ptrs.data(), n);
        return subscribe ? api_->SubscribeMarketData(ptrs.data(), n)
                         : api_->UnSubscribeMarketData(ptrs.data(), n);
    }

    void Answer(EventKind kind, CThostFtdcSpecificInstrumentField* i,
                CThostFtdcRspInfoField* info, int id, bool last)
    {
        Guard([&] {
            EventRecord e = Response(kind, id, last, info);
            e.hasInstrument = i != nullptr;
            if (i)
                e.instrument = *i;
            Deliver(e);
        });
    }

    void Deliver(const EventRecord& e)
    {
        if (push_[static_cast<int>(e.kind)]) {
            CallPython(EventNames[static_cast<int>(e.kind)],
                       [&] {
                           py::object callback = opt_.eventCallback;
                           callback(EventTuple(e));
                       });
            return;
        }
        {
            std::lock_guard<std::mutex> lk(mu_);
            if (events_.size() >= std::max<std::size_t>(1, opt_.eventQueueSize)) {
                events_.pop_front();
                eventsDropped_.fetch_add(1, std::memory_order_relaxed);
            }
            events_.push_back(e);
        }
        cv_.notify_all();
    }

    py::object EventTuple(const EventRecord& e)
    {
        auto record = [&](bool has, RecordKind k, const void* p, std::size_t n) {
            return has ? Steal(NewRecord(k, p, n, encoding_)) : py::none();
        };
        py::object instrument =
            e.hasInstrument ? Steal(DecodeText(e.instrument.InstrumentID,
                                               sizeof e.instrument.InstrumentID, encoding_))
                            : py::none();
        return py::make_tuple(EventNames[static_cast<int>(e.kind)], e.reason,
                              record(e.hasLogin, RecordKind::Login, &e.login, sizeof e.login),
                              record(e.hasInfo, RecordKind::RspInfo, &e.info, sizeof e.info),
                              instrument, e.requestId, e.isLast,
                              record(e.hasNotice, RecordKind::ForQuote, &e.notice, sizeof e.notice));
    }

    // Nothing thrown here may reach the library.
    template <class F>
    void Guard(F f)
    {
        try {
            f();
        } catch (...) {
            callbackErrors_.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // Runs f with the GIL held; a Python exception (or any other) is logged
    // on the "mdlink" logger and counted, and the link goes on.
    template <class F>
    void CallPython(const char* what, F f)
    {
        if (Finalizing() || closing_.load())
            return;
        try {
            LoopGil gil;
            std::shared_ptr<Session> keep = shared_from_this(); // a close inside f may drop Python's
            Running running(*this);
            try {
                f();
            } catch (py::error_already_set& e) {
                Report(what, e.value());
            } catch (std::exception& e) {
                Report(what, py::str(std::string("C++ exception: ") + e.what()));
            } catch (...) {
                Report(what, py::str("unknown C++ exception"));
            }
        } catch (...) {
            callbackErrors_.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // Counts a Python callback in progress, for Join.
    class Running {
    public:
        explicit Running(Session& s) : s_(s)
        {
            std::lock_guard<std::mutex> lk(s_.mu_);
            ++s_.running_;
            insideCallback = true;
        }
        ~Running()
        {
            insideCallback = false;
            {
                std::lock_guard<std::mutex> lk(s_.mu_);
                --s_.running_;
            }
            s_.cv_.notify_all();
        }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        Session& s_;
    };

    static thread_local bool insideCallback;

    void Report(const char* what, const py::object& error)
    {
        callbackErrors_.fetch_add(1, std::memory_order_relaxed);
        try {
            py::object log = py::module_::import("logging").attr("getLogger")("mdlink");
            if (PyExceptionInstance_Check(error.ptr()))
                log.attr("error")("exception in the handler's %s; the client goes on", what,
                                  py::arg("exc_info") = error);
            else
                log.attr("error")("exception in the handler's %s: %s; the client goes on", what,
                                  error);
        } catch (py::error_already_set&) {
            PyErr_Clear();
        }
    }

    Options opt_;
    std::mutex mu_;               // ring_, events_, login state, lists, waiters_, closed_
    std::condition_variable cv_;
    DepthRing ring_;
    std::deque<EventRecord> events_;
    std::vector<std::string> instruments_, forQuotes_;
    LoginState loginState_ = LoginState::None;
    CThostFtdcRspUserLoginField login_{};
    CThostFtdcRspInfoField loginInfo_{};
    bool loginHasInfo_ = false;
    int waiters_ = 0;
    std::size_t wakeAt_ = ~std::size_t(0); // queue length a batch reader waits for
    int running_ = 0;             // Python callbacks in progress
    bool closed_ = false;

    std::mutex apiMu_;            // api_ against Close
    CThostFtdcMdApi* api_ = nullptr;
    int requestId_ = 0;           // loop thread only

    // Readers' side, used with the GIL held. Slots are not zeroed when the
    // vector grows: each is written before it is read.
    struct Slot {
        Depth d;
        Slot() {}
    };
    static_assert(sizeof(Slot) == sizeof(Depth), "slots are read as an array of records");
    std::vector<Slot> pending_, spare_;
    std::size_t pendingPos_ = 0;

    PyObject* encoding_;          // borrowed from opt_.encoding
    bool push_[static_cast<int>(EventKind::Count)] = {};
    bool pushDepth_ = false;
    std::atomic<bool> closing_{false};
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> received_{0}, dropped_{0}, eventsDropped_{0}, callbackErrors_{0};
};

thread_local bool Session::insideCallback = false;

std::shared_ptr<Session> MakeSession(std::vector<std::string> fronts, std::string broker,
                                     std::string user, std::string password,
                                     std::size_t queueSize, std::size_t eventQueueSize,
                                     py::object encoding, py::object depthCallback,
                                     py::object eventCallback, std::vector<std::string> pushKinds)
{
    if (fronts.empty())
        throw py::value_error("at least one front address is needed");
    Options o;
    o.fronts = std::move(fronts);
    o.broker = std::move(broker);
    o.user = std::move(user);
    o.password = std::move(password);
    o.queueSize = queueSize;
    o.eventQueueSize = eventQueueSize;
    o.encoding = std::move(encoding);
    o.depthCallback = std::move(depthCallback);
    o.eventCallback = std::move(eventCallback);
    o.pushKinds = std::move(pushKinds);
    auto s = std::make_shared<Session>(o);
    s->Start();
    return s;
}

double Seconds(const py::object& timeout)
{
    if (timeout.is_none())
        return -1;
    const double t = timeout.cast<double>();
    return t < 0 ? 0 : t;
}

} // namespace

} // namespace mdpy

PYBIND11_MODULE(_core, m)
{
    using mdpy::Session;
    m.doc() = "The compiled part of mdlink: one client of the market-data library per Session.";
    if (!mdpy::AddRecordTypes(m.ptr()))
        throw py::error_already_set();
    py::register_exception<mdpy::ClosedError>(m, "ClosedError", PyExc_RuntimeError);
    m.def("api_version", [] { return std::string(CThostFtdcMdApi::GetApiVersion()); },
          "The library's version text.");
    m.def("members", [](const std::string& name) {
        static const char* const names[] = {"Depth", "LoginResponse", "RspInfo", "ForQuote"};
        for (int i = 0; i < 4; ++i)
            if (name == names[i])
                return py::reinterpret_steal<py::object>(
                    mdpy::MemberTable(static_cast<mdpy::RecordKind>(i)));
        throw py::key_error(name);
    }, "members(record) -> [(name, kind, offset, size)] of a record type.");

    py::class_<Session, std::shared_ptr<Session>>(
        m, "Session", py::custom_type_setup([](PyHeapTypeObject* heap) {
            PyTypeObject* type = &heap->ht_type;
            type->tp_flags |= Py_TPFLAGS_HAVE_GC;
            type->tp_traverse = [](PyObject* self, visitproc visit, void* arg) {
                Py_VISIT(Py_TYPE(self));
                try {
                    return py::cast<Session&>(py::handle(self)).Traverse(visit, arg);
                } catch (...) {
                    return 0; // not constructed
                }
            };
            type->tp_clear = [](PyObject* self) {
                try {
                    py::cast<Session&>(py::handle(self)).Close();
                } catch (...) {
                }
                return 0;
            };
        }))
        .def(py::init(&mdpy::MakeSession), py::arg("fronts"), py::arg("broker"), py::arg("user"),
             py::arg("password"), py::arg("queue_size"), py::arg("event_queue_size"),
             py::arg("encoding"), py::arg("depth_callback"), py::arg("event_callback"),
             py::arg("push_kinds"))
        .def("close", &Session::Close)
        .def_property_readonly("closed", &Session::Closed)
        .def("request", &Session::Request, py::arg("ids"), py::arg("for_quote"), py::arg("subscribe"))
        .def("next_depth", [](Session& s, py::object t) { return s.NextDepth(mdpy::Seconds(t)); })
        .def("take_batch", [](Session& s, std::size_t max, py::object t, std::size_t least) {
            return s.TakeBatch(max, mdpy::Seconds(t), least);
        })
        .def("next_event", [](Session& s, py::object t) { return s.NextEvent(mdpy::Seconds(t)); })
        .def("wait_login", [](Session& s, py::object t) { return s.WaitLogin(mdpy::Seconds(t)); })
        .def("join", [](Session& s, py::object t) { return s.Join(mdpy::Seconds(t)); })
        .def_property_readonly("queued", &Session::Queued)
        .def_property_readonly("events_queued", &Session::EventsQueued)
        .def_property_readonly("waiting", &Session::Waiting)
        .def_property_readonly("received", &Session::received)
        .def_property_readonly("dropped", &Session::dropped)
        .def_property_readonly("events_dropped", &Session::eventsDropped)
        .def_property_readonly("callback_errors", &Session::callbackErrors)
        .def_property_readonly("connected", &Session::connected)
        .def_property_readonly("logged_in", &Session::loggedIn)
        .def_property_readonly("queue_size", &Session::queueSize);
}
