// One client of the soak: a library client object and the application around
// it. The application logs in and subscribes from its callbacks, follows each
// connection's sequence numbers and reconnection delays, and misbehaves when
// the driver asks it to: throws, blocks, releases its client from inside a
// callback. Its two callback objects let the driver switch RegisterSpi
// between them while records flow.
//
//   driver thread (slot locked)         loop thread (callbacks)
//   ---------------------------         -----------------------
//   Start: Create, RegisterSpi, Init    OnFrontConnected -> login
//   SwitchSpi: RegisterSpi(other)       OnRspUserLogin -> subscribe
//   ReleaseFromThread                   OnRtnDepthMarketData -> SeqCheck
//   Arm*: throws, blocks, release       Release from here (slot try-lock only)
//
// The driver never waits for the loop without the slot's lock, and a
// callback only try-locks it, so neither can wait for the other.
#pragma once

#include "Checks.h"
#include "SoakClient.h"
#include "Tally.h"

#include "MdApi.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace soak {

// A finished connection, for the driver to judge against the front's figures.
struct ConnReport {
    int frontId = 0;
    int session = 0;
    SeqCheck check;
    bool tailExempt = false; // the application released the client
};

// What every client shares.
struct ClientShared {
    Tally* tally = nullptr;
    std::function<void(const ConnReport&)> report; // called on any thread
    std::vector<std::string> fronts;
    // Pairs of fronts serving one feed, for the redundant clients.
    std::vector<std::vector<std::string>> pairs;
    std::chrono::steady_clock::time_point epoch;
    int instruments = 2;
};

// A client's place in the soak; its client object is replaced on re-creation.
struct Slot {
    std::mutex mu;
    std::atomic<bool> needsRecreate{false};
    std::atomic<std::uint64_t> records{0}; // over every client object of the slot
};

class Client final : public SoakClient {
public:
    Client(const ClientShared& shared, Slot& slot, int index, int generation);
    ~Client() override;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Start() override;
    void ReleaseFromThread(bool atEnd = false) override;
    void SwitchSpi() override;

private:
    class Spi;
    class Scope;

    // Callbacks, on the loop thread.
    void OnConnected(int spi);
    void OnDisconnected(int spi, int reason);
    void OnLogin(int spi, CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info);
    void OnSubscribed(int spi);
    void OnDepth(int spi, const CThostFtdcDepthMarketDataField* d);
    void OnOther(int spi);

    void Misbehave(Callback cb);
    void ReleaseHere();
    void FinishConnection(bool tailExempt);

    const ClientShared& shared_;
    Tally& tally_;
    Slot& slot_;
    const int index_;
    const int generation_;
    CThostFtdcMdApi* api_ = nullptr;
    std::vector<Spi*> spis_;
    int currentSpi_ = 0;
    std::atomic<int> allowedSpis_{0}; // bit per callback object that may be called

    bool releaseCalled_ = false;        // under the slot's lock
    bool releasedHere_ = false;         // loop thread
    std::atomic<bool> released_{false}; // Release has returned (or its callback has)

    // Loop thread only, or the driver once Release has returned.
    ReconnectClock clock_;
    bool retryArmedHere_ = false; // this OnFrontDisconnected starts a retry when it returns
    bool connected_ = false;
    bool mapped_ = false;
    ConnReport conn_;
    std::uint64_t unmappedRecords_ = 0;
    std::vector<std::string> instrumentIds_;
};

} // namespace soak
