// The library's callbacks, on its thread: log in on every connection,
// subscribe again after every login, and hand records and events on to the
// queues or to the handler.
//
// The loop thread never holds Room().mu or apiMu_ while it asks for the GIL:
// a Python thread holding the GIL may be waiting for either.
#include "Session.h"

#include "PythonCall.h"
#include "Records.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace py = pybind11;

namespace mdpy {

namespace {

void CopyText(char* dst, std::size_t width, const std::string& text)
{
    std::memset(dst, 0, width);
    std::memcpy(dst, text.data(), std::min(text.size(), width - 1));
}

// The local time a record is delivered at, ns since the epoch (the vDSO's
// clock: no system call); a capture stamps its records the same way.
std::int64_t NowNanos()
{
#ifdef MDLINK_CAPTURE
    return mdcapture::NowNs();
#else
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
#endif
}

} // namespace

// Nothing thrown here may reach the library, but a forced unwind.
template <class F>
void Session::Guard(F f)
{
    try {
        f();
    }
    MDPY_PASS_FORCED_UNWIND
    catch (...)
    {
        callbackErrors_.fetch_add(1, std::memory_order_relaxed);
    }
}

template <class F>
void Session::Python(const char* what, F f)
{
    CallPython(*this, Room(), callbackErrors_, what, f);
}

void Session::OnFrontConnected()
{
    Guard([&] {
        connected_ = true;
        {
            std::lock_guard<std::mutex> lk(Room().mu);
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

void Session::OnFrontDisconnected(int reason)
{
    Guard([&] {
        connected_ = false;
        {
            std::lock_guard<std::mutex> lk(Room().mu);
            loginState_ = LoginState::None;
            hasReason_ = true;
            lastReason_ = reason;
        }
        EventRecord e;
        e.kind = EventKind::Disconnected;
        e.reason = reason;
        Deliver(e);
    });
}

void Session::OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int id,
                             bool last)
{
    Guard([&] {
        const bool ok = !info || info->ErrorID == 0;
        std::vector<std::string> instruments, forQuotes;
        WaitRoom::Wake w;
        {
            // The state set and the lists copied in one step as a request
            // sees them (its lock first, as there): what a request added
            // after, it sends itself.
            std::lock_guard<std::mutex> lists(subscriptionsMu_);
            {
                std::lock_guard<std::mutex> lk(Room().mu);
                loginState_ = ok ? LoginState::Ok : LoginState::Failed;
                login_ = login ? *login : CThostFtdcRspUserLoginField{};
                loginHasInfo_ = info != nullptr;
                loginInfo_ = info ? *info : CThostFtdcRspInfoField{};
                w = Room().Changed();
            }
            if (ok) {
                instruments = instruments_.Ids();
                forQuotes = forQuotes_.Ids();
            }
        }
        Room().Notify(w);
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

void Session::OnRspSubMarketData(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info, int id,
                                 bool last)
{
    Answer(EventKind::Subscribed, i, info, id, last);
}

void Session::OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info, int id,
                                   bool last)
{
    Answer(EventKind::Unsubscribed, i, info, id, last);
}

void Session::OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info, int id,
                                  bool last)
{
    Answer(EventKind::ForQuoteSubscribed, i, info, id, last);
}

void Session::OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info,
                                    int id, bool last)
{
    Answer(EventKind::ForQuoteUnsubscribed, i, info, id, last);
}

void Session::OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* notice)
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

void Session::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d)
{
    if (!d)
        return;
    const std::int64_t now = NowNanos();
#ifdef MDLINK_CAPTURE
    if (capture_)
        capture_->Add(*d, now); // a full queue drops the record and counts it
#endif
    if (!pushDepth_) {
        depth_->Push(*d, now);
        return;
    }
    depth_->CountPushed();
    Python("on_depth", [&] { CallHandler(opt_.depthCallback.ptr(), NewDepth(*d, now, encoding_)); });
}

void Session::OnLinkUp(int link, const char* fronts)
{
    LinkEvent(EventKind::LinkUp, link, fronts, 0);
}

void Session::OnLinkDown(int link, const char* fronts, int reason)
{
    LinkEvent(EventKind::LinkDown, link, fronts, reason);
}

void Session::LinkEvent(EventKind kind, int link, const char* fronts, int reason)
{
    Guard([&] {
        EventRecord e;
        e.kind = kind;
        e.reason = reason;
        e.link = link;
        CopyText(e.fronts, sizeof e.fronts, fronts ? fronts : "");
        Deliver(e);
    });
}

void Session::Answer(EventKind kind, CThostFtdcSpecificInstrumentField* i, CThostFtdcRspInfoField* info,
                     int id, bool last)
{
    Guard([&] {
        EventRecord e = Response(kind, id, last, info);
        e.hasInstrument = i != nullptr;
        if (i)
            e.instrument = *i;
        Deliver(e);
    });
}

// To the event queue unless the handler takes the kind, then to Python for
// the handler and the link log. The call comes last: the handler may drop
// the last reference to this object.
void Session::Deliver(const EventRecord& e)
{
    const int k = static_cast<int>(e.kind);
    if (!push_[k])
        Queue(e);
    // A refused (un)subscription goes to Python for its warning even when no
    // handler takes answers: refusals are few, answers may be a million.
    const bool refused = e.hasInfo && e.info.ErrorID != 0 && e.kind >= EventKind::Subscribed &&
        e.kind <= EventKind::ForQuoteUnsubscribed;
    if (call_[k] || refused)
        Python(EventNames[k], [&] { CallHandler(opt_.eventCallback.ptr(), EventTuple(e).release().ptr()); });
}

void Session::Queue(const EventRecord& e)
{
    WaitRoom::Wake w;
    {
        std::lock_guard<std::mutex> lk(Room().mu);
        if (events_.size() >= std::max<std::size_t>(1, opt_.eventQueueSize)) {
            events_.pop_front();
            eventsDropped_.fetch_add(1, std::memory_order_relaxed);
        }
        events_.push_back(e);
        w = Room().Changed();
    }
    Room().Notify(w);
}

py::object Session::EventTuple(const EventRecord& e)
{
    auto record = [&](bool has, RecordKind k, const void* p, std::size_t n) {
        if (!has)
            return py::object(py::none());
        py::object r = py::reinterpret_steal<py::object>(NewRecord(k, p, n, encoding_));
        if (!r)
            throw py::error_already_set();
        return r;
    };
    py::object instrument = py::none();
    if (e.hasInstrument) {
        instrument = py::reinterpret_steal<py::object>(
            DecodeText(e.instrument.InstrumentID, sizeof e.instrument.InstrumentID, encoding_));
        if (!instrument)
            throw py::error_already_set();
    }
    py::object link = py::none(), fronts = py::none();
    if (e.link >= 0) {
        link = py::int_(e.link);
        fronts = py::str(e.fronts);
    }
    return py::make_tuple(
        EventNames[static_cast<int>(e.kind)], e.reason,
        record(e.hasLogin, RecordKind::Login, &e.login, sizeof e.login),
        record(e.hasInfo, RecordKind::RspInfo, &e.info, sizeof e.info), instrument, e.requestId, e.isLast,
        record(e.hasNotice, RecordKind::ForQuote, &e.notice, sizeof e.notice), link, fronts);
}

} // namespace mdpy
