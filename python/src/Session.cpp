// A client's life (start, close, fork) and the operations Python calls on
// it: requests, and the waits for events and the login answer.
#include "Session.h"

#include "KelvoBase.h"

#include "PythonCall.h"
#include "Records.h"
#ifdef MDLINK_CAPTURE
#include "CaptureSink.h"
#endif

#include <algorithm>
#include <new>

namespace py = pybind11;

namespace mdpy {

namespace {

int KindIndex(const std::string& name)
{
    auto it = std::find(std::begin(EventNames), std::end(EventNames), name);
    if (it == std::end(EventNames))
        throw py::value_error("unknown event kind: " + name);
    return static_cast<int>(it - std::begin(EventNames));
}

py::object Steal(PyObject* p)
{
    if (!p)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(p);
}

} // namespace

// Ends a close on every way out, an exception's too: the client is closed
// and whoever waits for that is told.
class Session::Finish {
public:
    explicit Finish(Session& s) : s_(s) {}
    ~Finish()
    {
        WaitRoom::Wake w;
        {
            std::lock_guard<std::mutex> lk(s_.Room().mu);
            s_.life_ = Life::Closed;
            w = s_.Room().Changed();
        }
        s_.Room().Notify(w);
    }
    Finish(const Finish&) = delete;
    Finish& operator=(const Finish&) = delete;

private:
    Session& s_;
};

Session::Session(Options o)
    : opt_(std::move(o)), depth_(std::make_shared<DepthQueue>(opt_.queueSize, opt_.encoding)),
      encoding_(opt_.encoding.is_none() ? nullptr : opt_.encoding.ptr())
{
    for (const std::string& k : opt_.pushKinds)
        push_[KindIndex(k)] = call_[KindIndex(k)] = true;
    for (const std::string& k : opt_.callKinds)
        call_[KindIndex(k)] = true;
    pushDepth_ = !opt_.depthCallback.is_none();
    if (!opt_.captureDir.empty()) {
#ifdef MDLINK_CAPTURE
        capture_ = OpenCapture(opt_.captureDir, opt_.captureWriter, opt_.fronts, std::chrono::seconds(1), 0);
#else
        throw std::runtime_error("mdlink was built without capture files");
#endif
    }
}

Session::~Session()
{
    bool open;
    {
        std::lock_guard<std::mutex> lk(Room().mu);
        open = life_ == Life::Open;
    }
    try {
        if (open)
            Close();
    } catch (...) {
        // A destructor has nobody to tell.
    }
}

namespace {

// A link of a redundant client: whatever client the library makes, which
// with one front of its own is a single link (also under MDLINK_LINKS).
CThostFtdcMdApi* NewLink()
{
    return CThostFtdcMdApi::CreateFtdcMdApi();
}

} // namespace

// The one place that makes the library's client.
void Session::Start()
{
    mdlink::CRedundantMdApi* redundant =
        opt_.links > 1 ? mdlink::CRedundantMdApi::Create(opt_.links, &NewLink) : nullptr;
    CThostFtdcMdApi* api = redundant ? redundant : CThostFtdcMdApi::CreateFtdcMdApi();
    if (!api)
        throw std::runtime_error("the library could not create a client");
    GilRelease unlocked;
    {
        std::lock_guard<std::mutex> lk(apiMu_);
        api_ = api;
        redundant_ = redundant;
    }
    api->RegisterSpi(this);
    if (redundant)
        redundant->RegisterLinkWatcher(this);
    for (const std::string& f : opt_.fronts) {
        std::vector<char> text(f.begin(), f.end());
        text.push_back('\0');
        api->RegisterFront(text.data());
    }
    api->Init();
}

void Session::Close()
{
    bool first;
    {
        std::lock_guard<std::mutex> lk(Room().mu);
        first = life_ == Life::Open;
        if (first) {
            life_ = Life::Closing;
            closed_ = true;
            connected_ = false;
            loginState_ = LoginState::None;
        }
    }
    if (!first) {
        // Waiting inside a callback would wait for itself.
        if (!InsideCallback())
            Room().Wait(
                -1, [&] { return life_ == Life::Closed && Room().running == 0; }, false);
        return;
    }
    {
        Finish finish(*this);
        depth_->Close(); // blocked readers return
        GilRelease unlocked;
        if (CThostFtdcMdApi* api = TakeApi())
            api->Release();
#ifdef MDLINK_CAPTURE
        if (capture_)
            capture_->Close(); // the last block written: the capture is whole once close returns
#endif
    }
    // No callback runs or can start now (or, from inside one, no other will
    // follow): the Python objects may go.
    opt_.depthCallback = py::none();
    opt_.eventCallback = py::none();
}

CThostFtdcMdApi* Session::TakeApi()
{
    std::lock_guard<std::mutex> lk(apiMu_);
    CThostFtdcMdApi* api = api_;
    api_ = nullptr;
    redundant_ = nullptr;
    return api;
}

void Session::ForgetAfterFork()
{
    depth_->ForgetAfterFork();
    new (&apiMu_) std::mutex; // abandoned, see WaitRoom::ForgetAfterFork
    life_ = Life::Open;       // the parent's closer, if any, is not here
    closed_ = true;
    connected_ = false;
    loginState_ = LoginState::None;
    events_.clear();
#ifdef MDLINK_CAPTURE
    // Its thread is the parent's: closing it here would wait for a thread
    // the child does not have. The parent goes on writing the files.
    static_cast<void>(capture_.release());
#endif
}

py::object Session::CaptureCounters()
{
#ifdef MDLINK_CAPTURE
    if (capture_)
        return CaptureStats(*capture_);
#endif
    return py::none();
}

pybind11::list Session::LinkCounters()
{
    namespace py = pybind11;
    struct Read {
        Session* self;
        mdlink::RedundantLinkCounters links[mdlink::RedundantMaxLinks];
        int n = 0;
    } read{this, {}, 0};
    if (!Closed()) {
        GilRelease unlocked;
        // On the loop, where Close's release of the client runs too: with
        // apiMu_ held there the client cannot go while it is read.
        Kelvo_LOOP_Call(
            [](void* p) {
                Read& r = *static_cast<Read*>(p);
                std::lock_guard<std::mutex> lk(r.self->apiMu_);
                if (r.self->redundant_)
                    r.n = r.self->redundant_->GetLinkCounters(r.links, mdlink::RedundantMaxLinks);
            },
            &read);
    }
    py::list out;
    for (int k = 0; k < read.n; ++k) {
        const mdlink::RedundantLinkCounters& c = read.links[k];
        py::list late;
        for (unsigned long long b : c.Late)
            late.append(b);
        py::dict d;
        d["fronts"] = std::string(c.Fronts);
        d["up"] = c.Up != 0;
        d["logged_in"] = c.LoggedIn != 0;
        d["last_record_age"] = c.LastRecordAgeMs < 0
            ? py::object(py::none())
            : py::object(py::float_(static_cast<double>(c.LastRecordAgeMs) / 1000.0));
        d["connects"] = c.Connects;
        d["reconnections"] = c.Reconnections;
        d["losses"] = c.Losses;
        d["logins_refused"] = c.LoginsRefused;
        d["login_timeouts"] = c.LoginTimeouts;
        d["records"] = c.Records;
        d["first"] = c.First;
        d["copies"] = c.Copies;
        d["late_copies"] = c.LateCopies;
        d["older"] = c.Older;
        d["held"] = c.Held;
        d["notices_first"] = c.NoticesFirst;
        d["notice_copies"] = c.NoticeCopies;
        d["late_timed"] = c.LateTimed;
        d["late"] = late;
        d["late_max_us"] = c.LateMaxUs;
        d["late_sum_us"] = c.LateSumUs;
        out.append(d);
    }
    return out;
}

namespace {

// Ids a request adds or removes per hold of the lock a login needs.
constexpr std::size_t RequestSlice = 16384;

} // namespace

void Subscriptions::Apply(char* const* ids, std::size_t count, bool subscribe)
{
    std::string id;
    for (std::size_t k = 0; k < count; ++k) {
        id.assign(ids[k]);
        if (subscribe) {
            if (at_.emplace(id, order_.size()).second)
                order_.push_back(id);
        } else if (auto it = at_.find(id); it != at_.end()) {
            order_[it->second].clear();
            at_.erase(it);
        }
    }
    if (order_.size() > 64 && at_.size() < order_.size() / 2)
        Compact();
}

void Subscriptions::Reserve(std::size_t more)
{
    at_.reserve(at_.size() + more);
    order_.reserve(order_.size() + more);
}

void Subscriptions::Compact()
{
    std::size_t to = 0;
    for (std::string& id : order_) {
        if (id.empty())
            continue;
        at_[id] = to;
        if (&order_[to] != &id)
            order_[to] = std::move(id);
        ++to;
    }
    order_.resize(to);
}

std::vector<std::string> Subscriptions::Ids() const
{
    std::vector<std::string> ids;
    ids.reserve(at_.size());
    for (const std::string& id : order_)
        if (!id.empty())
            ids.push_back(id);
    return ids;
}

int Session::Request(std::string& ids, bool forQuote, bool subscribe)
{
    if (Closed())
        throw ClosedError("the client is closed");
    if (!ids.empty() && ids.back() != '\0')
        ids.push_back('\0');
    std::vector<char*> ptrs;
    for (std::size_t at = 0; at < ids.size(); at = ids.find('\0', at) + 1)
        ptrs.push_back(&ids[at]);
    Subscriptions& kept = forQuote ? forQuotes_ : instruments_;
    std::lock_guard<std::mutex> serial(requestMu_);
    if (subscribe && ptrs.size() > RequestSlice) {
        std::lock_guard<std::mutex> lk(subscriptionsMu_);
        kept.Reserve(ptrs.size());
    }
    bool loggedIn = false;
    for (std::size_t from = 0; from < ptrs.size() || from == 0; from += RequestSlice) {
        std::lock_guard<std::mutex> lk(subscriptionsMu_);
        kept.Apply(ptrs.data() + from, std::min(RequestSlice, ptrs.size() - from), subscribe);
        if (from + RequestSlice >= ptrs.size()) {
            // With the last slice, as a login sets its state and copies the
            // lists: either that login sends these ids or this request does
            // (both, for the earlier slices of a large request).
            std::lock_guard<std::mutex> room(Room().mu);
            loggedIn = loginState_ == LoginState::Ok;
        }
    }
    if (!loggedIn || ptrs.empty())
        return 0; // sent after the next login
    return Send(ptrs, forQuote, subscribe);
}

int Session::Send(std::vector<std::string>& ids, bool forQuote, bool subscribe)
{
    std::vector<char*> ptrs;
    ptrs.reserve(ids.size());
    for (std::string& id : ids)
        ptrs.push_back(&id[0]);
    return Send(ptrs, forQuote, subscribe);
}

int Session::Send(std::vector<char*>& ids, bool forQuote, bool subscribe)
{
    const int n = static_cast<int>(ids.size());
    std::lock_guard<std::mutex> lk(apiMu_);
    if (!api_)
        return -1;
    if (forQuote)
        return subscribe ? api_->SubscribeForQuoteRsp(ids.data(), n)
                         : api_->UnSubscribeForQuoteRsp(ids.data(), n);
    return subscribe ? api_->SubscribeMarketData(ids.data(), n) : api_->UnSubscribeMarketData(ids.data(), n);
}

py::object Session::NextEvent(double timeout)
{
    RefuseWaitInsideCallback("next_event", timeout);
    EventRecord e;
    const bool got = Room().Wait(timeout, [&] {
        if (events_.empty())
            return false;
        e = events_.front();
        events_.pop_front();
        return true;
    });
    return got ? EventTuple(e) : py::none();
}

py::object Session::WaitLogin(double timeout)
{
    RefuseWaitInsideCallback("wait_login", timeout);
    LoginState state = LoginState::None;
    CThostFtdcRspUserLoginField login{};
    CThostFtdcRspInfoField info{};
    bool hasInfo = false;
    const bool got = Room().Wait(timeout, [&] {
        if (life_ != Life::Open || loginState_ == LoginState::None)
            return false;
        state = loginState_;
        login = login_;
        info = loginInfo_;
        hasInfo = loginHasInfo_;
        return true;
    });
    if (!got)
        return py::none();
    py::object infoObj =
        hasInfo ? Steal(NewRecord(RecordKind::RspInfo, &info, sizeof info, encoding_)) : py::none();
    return py::make_tuple(state == LoginState::Ok,
                          Steal(NewRecord(RecordKind::Login, &login, sizeof login, encoding_)), infoObj);
}

bool Session::Join(double timeout)
{
    if (InsideCallback())
        return Closed(); // waiting here would wait for itself
    return Room().Wait(
        timeout, [&] { return life_ == Life::Closed && Room().running == 0; }, false);
}

std::size_t Session::EventsQueued()
{
    std::lock_guard<std::mutex> lk(Room().mu);
    return events_.size();
}

bool Session::LoggedIn()
{
    std::lock_guard<std::mutex> lk(Room().mu);
    return loginState_ == LoginState::Ok;
}

py::object Session::LastReason()
{
    std::lock_guard<std::mutex> lk(Room().mu);
    return hasReason_ ? py::object(py::int_(lastReason_)) : py::object(py::none());
}

int Session::Traverse(visitproc visit, void* arg)
{
    Py_VISIT(opt_.depthCallback.ptr());
    Py_VISIT(opt_.eventCallback.ptr());
    return 0;
}

} // namespace mdpy
