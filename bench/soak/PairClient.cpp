#include "PairClient.h"

#include "KelvoBase.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace soak {

// One link's inner client, seen through: every record it brings is noted
// before the redundant client gets it.
class PairClient::SpyApi final : public CThostFtdcMdApi, private CThostFtdcMdSpi {
public:
    SpyApi(PairClient& owner, int link, CThostFtdcMdApi* inner) : owner_(owner), link_(link), inner_(inner) {}

    void Release() override
    {
        inner_->Release();
        // Called on the loop, maybe inside one of this link's callbacks.
        Kelvo_LOOP_Post([](void* p) { delete static_cast<SpyApi*>(p); }, this);
    }
    void Init() override { inner_->Init(); }
    int Join() override { return inner_->Join(); }
    const char* GetTradingDay() override { return inner_->GetTradingDay(); }
    void RegisterFront(char* f) override { inner_->RegisterFront(f); }
    void RegisterNameServer(char* n) override { inner_->RegisterNameServer(n); }
    void RegisterFensUserInfo(CThostFtdcFensUserInfoField* u) override { inner_->RegisterFensUserInfo(u); }
    void RegisterSpi(CThostFtdcMdSpi* s) override
    {
        target_ = s;
        inner_->RegisterSpi(this);
    }
    int SubscribeMarketData(char* ids[], int n) override { return inner_->SubscribeMarketData(ids, n); }
    int UnSubscribeMarketData(char* ids[], int n) override { return inner_->UnSubscribeMarketData(ids, n); }
    int SubscribeForQuoteRsp(char* ids[], int n) override { return inner_->SubscribeForQuoteRsp(ids, n); }
    int UnSubscribeForQuoteRsp(char* ids[], int n) override { return inner_->UnSubscribeForQuoteRsp(ids, n); }
    int ReqUserLogin(CThostFtdcReqUserLoginField* r, int id) override { return inner_->ReqUserLogin(r, id); }
    int ReqUserLogout(CThostFtdcUserLogoutField* r, int id) override { return inner_->ReqUserLogout(r, id); }
    int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField* q, int id) override
    {
        return inner_->ReqQryMulticastInstrument(q, id);
    }

private:
    ~SpyApi() = default;

    void OnFrontConnected() override
    {
        owner_.LinkUp(link_);
        target_->OnFrontConnected();
    }
    void OnFrontDisconnected(int reason) override { target_->OnFrontDisconnected(reason); }
    void OnRspUserLogin(CThostFtdcRspUserLoginField* l, CThostFtdcRspInfoField* i, int id, bool last) override
    {
        target_->OnRspUserLogin(l, i, id, last);
    }
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* s, CThostFtdcRspInfoField* i, int id,
                            bool last) override
    {
        target_->OnRspSubMarketData(s, i, id, last);
    }
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override
    {
        owner_.Brought(link_, *d);
        target_->OnRtnDepthMarketData(d);
    }

    PairClient& owner_;
    const int link_;
    CThostFtdcMdApi* inner_;
    CThostFtdcMdSpi* target_ = nullptr;
};

class PairClient::AppSpi final : public CThostFtdcMdSpi {
public:
    AppSpi(PairClient& c, int index) : c_(c), index_(index) {}

    void OnFrontConnected() override { c_.OnConnected(index_); }
    void OnFrontDisconnected(int reason) override { c_.OnDisconnected(index_, reason); }
    void OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info, int, bool) override
    {
        c_.OnLogin(index_, info);
    }
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField*, CThostFtdcRspInfoField*, int, bool) override
    {
        c_.OnOther(index_);
    }
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override { c_.OnDepth(index_, d); }

private:
    PairClient& c_;
    const int index_;
};

// Entry and exit of one application callback: the checks that need no
// record, the blocking the driver asked for, a Release asked for.
class PairClient::Scope {
public:
    Scope(PairClient& c, int spi, const char* what) : c_(c)
    {
        if (c.released_.load()) {
            ++c.tally_.callbacksAfterRelease;
            c.tally_.Fail(std::string(what) + " on pair client " + std::to_string(c.index_) +
                          " after its Release had returned");
        }
        if ((c.allowedSpis_.load() & (1 << spi)) == 0) {
            ++c.tally_.callbacksOnReplacedSpi;
            c.tally_.Fail(std::string(what) + " on pair client " + std::to_string(c.index_) +
                          " reached a callback object that RegisterSpi had replaced");
        }
        if (const int ms = c.TakeBlockMs()) {
            ++c.tally_.blocks;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }
    ~Scope()
    {
        if (c_.releasedHere_)
            c_.released_.store(true);
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    PairClient& c_;
};

// Each link's client, at Init and whenever the link starts over.
CThostFtdcMdApi* PairClient::MakeSpiedLink(int link)
{
    CThostFtdcMdApi* inner = CThostFtdcMdApi::CreateFtdcMdApi();
    return inner ? new SpyApi(*this, link, inner) : nullptr;
}

PairClient::PairClient(const ClientShared& shared, Slot& slot, int index, int generation)
    : shared_(shared), tally_(*shared.tally), slot_(slot), index_(index), generation_(generation)
{
    spis_.push_back(new AppSpi(*this, 0));
    spis_.push_back(new AppSpi(*this, 1));
    for (int i = 0; i < shared.instruments; ++i)
        instruments_.push_back("p" + std::to_string(index) + "i" + std::to_string(i));
    checks_.resize(instruments_.size());
    previous_.assign(2, std::vector<int>(instruments_.size(), -1));
}

PairClient::~PairClient()
{
    for (AppSpi* s : spis_)
        delete s;
}

void PairClient::Start()
{
    api_ = mdlink::CRedundantMdApi::Create(2, [this](int link) { return MakeSpiedLink(link); });
    if (!api_)
        throw std::runtime_error("no redundant client");
    allowedSpis_.store(1);
    api_->RegisterSpi(spis_[0]);
    const std::vector<std::string>& pair =
        shared_.pairs[static_cast<std::size_t>(index_ + generation_) % shared_.pairs.size()];
    for (std::string front : pair)
        api_->RegisterFront(&front[0]);
    api_->Init();
}

// The links' counters, while the client is still there.
void PairClient::Finish()
{
    mdlink::RedundantLinkCounters links[2];
    const int n = api_->GetLinkCounters(links, 2);
    for (int k = 0; k < n; ++k) {
        tally_.pairHeld += links[k].Held;
        tally_.pairLinkLosses += links[k].Losses;
    }
}

void PairClient::ReleaseFromThread(bool atEnd)
{
    if (releaseCalled_)
        return;
    releaseCalled_ = true;
    Finish();
    api_->Release();
    released_.store(true);
    // No callback runs any more: what the checks owe is the driver's to drop.
    for (SlotCheck& c : checks_)
        c.Forget();
    if (!atEnd)
        ++tally_.releasesFromThread;
}

void PairClient::SwitchSpi()
{
    if (releaseCalled_)
        return;
    const int next = 1 - currentSpi_;
    allowedSpis_.store(3);
    api_->RegisterSpi(spis_[static_cast<std::size_t>(next)]);
    allowedSpis_.store(1 << next);
    currentSpi_ = next;
    ++tally_.spiSwitches;
}

void PairClient::LinkUp(int link)
{
    for (int& n : previous_[static_cast<std::size_t>(link)])
        n = -1;
}

int PairClient::InstrumentOf(const char* id) const
{
    for (std::size_t i = 0; i < instruments_.size(); ++i)
        if (instruments_[i] == id)
            return static_cast<int>(i);
    return -1;
}

void PairClient::Brought(int link, const CThostFtdcDepthMarketDataField& d)
{
    const int i = InstrumentOf(d.InstrumentID);
    if (i < 0 || releasedHere_)
        return; // released from a callback: nothing more is owed
    int& previous = previous_[static_cast<std::size_t>(link)][static_cast<std::size_t>(i)];
    const double atMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    Lost(checks_[static_cast<std::size_t>(i)].Brought(d.Volume, previous, atMs), d);
    previous = d.Volume;
}

void PairClient::Lost(std::uint64_t lost, const CThostFtdcDepthMarketDataField& d)
{
    if (lost == 0)
        return;
    tally_.pairLost += lost;
    tally_.Fail("pair client " + std::to_string(index_) + ": " + std::to_string(lost) + " record(s) of " +
                d.InstrumentID + " a link brought never delivered (at " + std::to_string(d.Volume) + ")");
}

void PairClient::OnConnected(int spi)
{
    Scope scope(*this, spi, "OnFrontConnected");
    CThostFtdcReqUserLoginField req;
    std::memset(&req, 0, sizeof req);
    std::strcpy(req.BrokerID, "9999");
    std::snprintf(req.UserID, sizeof req.UserID, "pair%d", index_);
    api_->ReqUserLogin(&req, 1);
    if (TakeReleaseInCallback())
        ReleaseHere();
}

void PairClient::OnDisconnected(int spi, int reason)
{
    Scope scope(*this, spi, "OnFrontDisconnected");
    {
        std::lock_guard<std::mutex> lk(tally_.mu);
        ++tally_.pairDisconnects[reason];
    }
    // Every link is lost: the client forgets its order, and so may deliver
    // again what a link brings next, as a single client's new connection would.
    for (SlotCheck& c : checks_)
        c.Forget();
    if (TakeReleaseInCallback())
        ReleaseHere();
}

void PairClient::OnLogin(int spi, CThostFtdcRspInfoField* info)
{
    Scope scope(*this, spi, "OnRspUserLogin");
    if (info && info->ErrorID != 0)
        return;
    std::vector<char*> ids;
    for (std::string& id : instruments_)
        ids.push_back(&id[0]);
    api_->SubscribeMarketData(ids.data(), static_cast<int>(ids.size()));
}

void PairClient::OnDepth(int spi, const CThostFtdcDepthMarketDataField* d)
{
    Scope scope(*this, spi, "OnRtnDepthMarketData");
    tally_.records.fetch_add(1, std::memory_order_relaxed);
    tally_.pairRecords.fetch_add(1, std::memory_order_relaxed);
    slot_.records.fetch_add(1, std::memory_order_relaxed);
    const int i = InstrumentOf(d->InstrumentID);
    if (i >= 0 && !releasedHere_) {
        std::uint64_t lost = 0;
        if (!checks_[static_cast<std::size_t>(i)].Delivered(d->Volume, lost)) {
            ++tally_.pairOutOfOrder;
            tally_.Fail("pair client " + std::to_string(index_) + ": record " + std::to_string(d->Volume) +
                        " of " + d->InstrumentID + " twice or out of order");
        }
        Lost(lost, *d);
    }
    if (TakeReleaseInCallback())
        ReleaseHere();
    MaybeThrow();
}

void PairClient::OnOther(int spi)
{
    Scope scope(*this, spi, "a callback");
}

void PairClient::ReleaseHere()
{
    std::unique_lock<std::mutex> lk(slot_.mu, std::try_to_lock);
    if (!lk.owns_lock() || releaseCalled_)
        return; // the driver is busy with this client; another time
    Finish();
    releaseCalled_ = true;
    api_->Release();
    releasedHere_ = true;
    ++tally_.releasesInCallback;
    slot_.needsRecreate.store(true);
}

// Only depth callbacks throw: the redundant client counts them in its own
// err records, under that callback's name.
void PairClient::MaybeThrow()
{
    const int budget = TakeThrow();
    if (budget == 0)
        return;
    ++tally_.thrown[static_cast<int>(Callback::RtnDepthMarketData)];
    if (budget % 4 == 0)
        throw 42;
    throw std::runtime_error("thrown by the soak");
}

} // namespace soak
