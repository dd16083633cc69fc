#include "Client.h"

#include "Fronts.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace soak {

// Forwards every callback to the client, saying which object received it.
class Client::Spi final : public CThostFtdcMdSpi {
public:
    Spi(Client& c, int index) : c_(c), index_(index) {}

    void OnFrontConnected() override { c_.OnConnected(index_); }
    void OnFrontDisconnected(int reason) override { c_.OnDisconnected(index_, reason); }
    void OnHeartBeatWarning(int) override { c_.OnOther(index_); }
    void OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int, bool) override
    {
        c_.OnLogin(index_, login, info);
    }
    void OnRspError(CThostFtdcRspInfoField*, int, bool) override { c_.OnOther(index_); }
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField*, CThostFtdcRspInfoField*, int, bool) override
    {
        c_.OnSubscribed(index_);
    }
    void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField*, CThostFtdcRspInfoField*, int, bool) override
    {
        c_.OnOther(index_);
    }
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override { c_.OnDepth(index_, d); }
    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField*) override { c_.OnOther(index_); }

private:
    Client& c_;
    const int index_;
};

// Entry and exit of one callback: the checks that need no record, the
// blocking the driver asked for, and the callback's length as a loop stall.
class Client::Scope {
public:
    Scope(Client& c, int spi, const char* what) : c_(c), start_(std::chrono::steady_clock::now())
    {
        if (c.released_.load()) {
            ++c.tally_.callbacksAfterRelease;
            c.tally_.Fail(std::string(what) + " on client " + std::to_string(c.index_) +
                          " after its Release had returned");
        }
        if ((c.allowedSpis_.load() & (1 << spi)) == 0) {
            ++c.tally_.callbacksOnReplacedSpi;
            c.tally_.Fail(std::string(what) + " on client " + std::to_string(c.index_) +
                          " reached a callback object that RegisterSpi had replaced");
        }
        if (const int ms = c.TakeBlockMs()) {
            ++c.tally_.blocks;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }
    ~Scope()
    {
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_)
                .count();
        Tally::Raise(c_.tally_.longestCallbackNs, ns);
        if (c_.retryArmedHere_) {
            c_.retryArmedHere_ = false;
            c_.clock_.RetryStartsAt(EnteredMs() + static_cast<double>(ns) / 1e6);
        }
        if (c_.releasedHere_)
            c_.released_.store(true); // the callback that released is returning
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    // When the callback was entered, before any blocking: the moment that
    // stands for the frame's arrival, in ms since the soak's epoch.
    double EnteredMs() const
    {
        return std::chrono::duration<double, std::milli>(start_ - c_.shared_.epoch).count();
    }

private:
    Client& c_;
    const std::chrono::steady_clock::time_point start_;
};

Client::Client(const ClientShared& shared, Slot& slot, int index, int generation)
    : shared_(shared), tally_(*shared.tally), slot_(slot), index_(index), generation_(generation)
{
    spis_.push_back(new Spi(*this, 0));
    spis_.push_back(new Spi(*this, 1));
    for (int i = 0; i < shared.instruments; ++i)
        instrumentIds_.push_back("s" + std::to_string(index) + "i" + std::to_string(i));
}

Client::~Client()
{
    for (Spi* s : spis_)
        delete s;
}

void Client::Start()
{
    api_ = CThostFtdcMdApi::CreateFtdcMdApi();
    if (!api_)
        throw std::runtime_error("CreateFtdcMdApi gave no client");
    allowedSpis_.store(1);
    api_->RegisterSpi(spis_[0]);
    // Each client starts on another front, so the load spreads.
    const std::size_t n = shared_.fronts.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::string front = shared_.fronts[(static_cast<std::size_t>(index_ + generation_) + i) % n];
        api_->RegisterFront(&front[0]);
    }
    api_->Init();
}

void Client::ReleaseFromThread(bool atEnd)
{
    if (releaseCalled_)
        return;
    releaseCalled_ = true;
    api_->Release();
    released_.store(true);
    if (!atEnd)
        ++tally_.releasesFromThread;
    // No callback runs any more: the loop's state is the driver's now.
    FinishConnection(true);
}

void Client::SwitchSpi()
{
    if (releaseCalled_)
        return;
    const int next = 1 - currentSpi_;
    allowedSpis_.store(3); // either may be called until RegisterSpi returns
    api_->RegisterSpi(spis_[static_cast<std::size_t>(next)]);
    allowedSpis_.store(1 << next);
    currentSpi_ = next;
    ++tally_.spiSwitches;
}

void Client::FinishConnection(bool tailExempt)
{
    if (!connected_)
        return;
    connected_ = false;
    if (mapped_) {
        conn_.tailExempt = tailExempt;
        shared_.report(conn_);
    } else {
        tally_.uncheckedRecords += unmappedRecords_;
    }
    mapped_ = false;
    unmappedRecords_ = 0;
}

void Client::OnConnected(int spi)
{
    Scope scope(*this, spi, "OnFrontConnected");
    const double now = scope.EnteredMs();
    const std::optional<DelaySample> s = clock_.Connected(now);
    if (s) {
        std::lock_guard<std::mutex> lk(tally_.mu);
        tally_.retry.Add(s->ms);
    }
    FinishConnection(false); // a connect without a disconnect before it would be the library's
    connected_ = true;
    mapped_ = false;
    conn_ = ConnReport();
    CThostFtdcReqUserLoginField req;
    std::memset(&req, 0, sizeof req);
    std::strcpy(req.BrokerID, "9999");
    std::snprintf(req.UserID, sizeof req.UserID, "soak%d", index_);
    std::strcpy(req.Password, "soak");
    api_->ReqUserLogin(&req, 1);
    Misbehave(Callback::FrontConnected);
}

void Client::OnDisconnected(int spi, int reason)
{
    Scope scope(*this, spi, "OnFrontDisconnected");
    const double now = scope.EnteredMs();
    const std::optional<DelaySample> s = clock_.Disconnected(reason, now);
    retryArmedHere_ = reason != ReasonHeartBeat;
    {
        std::lock_guard<std::mutex> lk(tally_.mu);
        ++tally_.reasons[reason];
        if (s)
            (s->kind == DelayKind::Retry ? tally_.retry : tally_.silence).Add(s->ms);
    }
    FinishConnection(false);
    Misbehave(Callback::FrontDisconnected);
}

void Client::OnLogin(int spi, CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info)
{
    Scope scope(*this, spi, "OnRspUserLogin");
    clock_.Activity(scope.EnteredMs());
    if (info && info->ErrorID != 0)
        return; // refused: the front will be killed in time
    if (login && info) {
        mapped_ = true;
        conn_.frontId = login->FrontID;
        conn_.session = login->SessionID;
    }
    // A login response cut short still logs in; its connection goes unchecked.
    std::vector<char*> ids;
    for (std::string& id : instrumentIds_)
        ids.push_back(&id[0]);
    api_->SubscribeMarketData(ids.data(), static_cast<int>(ids.size()));
    Misbehave(Callback::RspUserLogin);
}

void Client::OnSubscribed(int spi)
{
    Scope scope(*this, spi, "OnRspSubMarketData");
    clock_.Activity(scope.EnteredMs());
    Misbehave(Callback::RspSubMarketData);
}

void Client::OnDepth(int spi, const CThostFtdcDepthMarketDataField* d)
{
    Scope scope(*this, spi, "OnRtnDepthMarketData");
    clock_.Activity(scope.EnteredMs());
    tally_.records.fetch_add(1, std::memory_order_relaxed);
    slot_.records.fetch_add(1, std::memory_order_relaxed);
    if (mapped_)
        conn_.check.Record(StampedSeq(*d));
    else
        ++unmappedRecords_;
    Misbehave(Callback::RtnDepthMarketData);
}

void Client::OnOther(int spi)
{
    Scope scope(*this, spi, "a callback");
    clock_.Activity(scope.EnteredMs());
}

void Client::ReleaseHere()
{
    std::unique_lock<std::mutex> lk(slot_.mu, std::try_to_lock);
    if (!lk.owns_lock() || releaseCalled_)
        return; // the driver is busy with this client; another time
    FinishConnection(true);
    releaseCalled_ = true;
    api_->Release();
    releasedHere_ = true;
    ++tally_.releasesInCallback;
    slot_.needsRecreate.store(true);
}

void Client::Misbehave(Callback cb)
{
    if (TakeReleaseInCallback())
        ReleaseHere();
    const int budget = TakeThrow();
    if (budget == 0)
        return;
    ++tally_.thrown[static_cast<int>(cb)];
    if (budget % 4 == 0)
        throw 42; // not a std::exception: the library has no text for it
    throw std::runtime_error("thrown by the soak");
}

} // namespace soak
