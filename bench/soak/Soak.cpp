#include "Soak.h"

#include "Client.h"
#include "FrontProcess.h"
#include "PairClient.h"
#include "Probe.h"
#include "Process.h"
#include "Report.h"
#include "Tally.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SOAK_SANITIZED 1
#endif
#endif

namespace soak {

namespace {

using std::chrono::milliseconds;

// Released client objects kept before deletion, so that a late callback is
// counted instead of reaching freed memory.
constexpr std::size_t Quarantine = 32;
constexpr milliseconds ProbeSleep{5};
constexpr milliseconds ChaosPeriod{100};
constexpr milliseconds JudgePeriod{500};
constexpr std::chrono::seconds Window{5};

class Driver {
public:
    explicit Driver(const Options& o)
        : opt_(o), rng_(o.seed), fronts_(std::make_unique<FrontProcess>(o, o.seed ^ 0x5eed))
    {}

    int Run();

private:
    void StartClients();
    std::unique_ptr<SoakClient> Make(int slot);
    void Recreate(int slot);
    void Chaos();
    void Judge(bool final);
    void FloodWindow(bool first);
    void ReleaseAll();
    ProcessFigures Quiet();
    void Setup();
    void Loop();
    void Finish();
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    const Options& opt_;
    std::mt19937_64 rng_;
    std::unique_ptr<FrontProcess> fronts_;
    Probe probe_;
    Tally tally_;
    ClientShared shared_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<std::unique_ptr<SoakClient>> clients_;
    std::vector<int> generations_;
    std::deque<std::unique_ptr<SoakClient>> quarantine_;

    std::mutex pendingMu_;
    std::vector<ConnReport> pending_;

    // Flood mode: per-client records at each window's start.
    std::vector<std::uint64_t> windowStart_;
    std::chrono::steady_clock::time_point floodFrom_;
    RunFigures fig_;
};

void Driver::StartClients()
{
    const int k = opt_.clients;
    if (slots_.empty()) {
        for (int i = 0; i < k; ++i)
            slots_.push_back(std::make_unique<Slot>());
        clients_.resize(static_cast<std::size_t>(k));
        generations_.assign(static_cast<std::size_t>(k), 0);
    }
    for (int i = 0; i < k; ++i) {
        const std::size_t s = static_cast<std::size_t>(i);
        std::lock_guard<std::mutex> lk(slots_[s]->mu);
        clients_[s] = Make(i);
        clients_[s]->Start();
    }
}

// The last R slots hold redundant clients.
std::unique_ptr<SoakClient> Driver::Make(int slot)
{
    const std::size_t i = static_cast<std::size_t>(slot);
    const int generation = ++generations_[i];
    if (slot >= opt_.clients - opt_.redundant)
        return std::make_unique<PairClient>(shared_, *slots_[i], slot, generation);
    return std::make_unique<Client>(shared_, *slots_[i], slot, generation);
}

// With the slot's lock held: the old client is released (if it was not
// from inside a callback), kept a while, and a new one takes its place.
void Driver::Recreate(int slot)
{
    const std::size_t i = static_cast<std::size_t>(slot);
    clients_[i]->ReleaseFromThread();
    quarantine_.push_back(std::move(clients_[i]));
    if (quarantine_.size() > Quarantine)
        quarantine_.pop_front();
    slots_[i]->needsRecreate.store(false);
    clients_[i] = Make(slot);
    clients_[i]->Start();
}

void Driver::Chaos()
{
    for (int s = 0; s < opt_.clients; ++s) {
        if (!slots_[static_cast<std::size_t>(s)]->needsRecreate.load())
            continue;
        std::lock_guard<std::mutex> lk(slots_[static_cast<std::size_t>(s)]->mu);
        Recreate(s);
    }
    const int slot = Pick(0, opt_.clients - 1);
    const std::size_t i = static_cast<std::size_t>(slot);
    const AppChaos& a = opt_.app;
    // Rates per tick of 100 ms, over all clients.
    if (a.throws && Chance(0.3))
        clients_[i]->ArmThrows(Pick(1, 12));
    if (a.blocks && Chance(0.2))
        clients_[static_cast<std::size_t>(Pick(0, opt_.clients - 1))]->ArmBlock(Pick(1, 100));
    if (a.releases && Chance(0.05))
        clients_[static_cast<std::size_t>(Pick(0, opt_.clients - 1))]->ArmReleaseInCallback();
    if (a.releases && Chance(0.05)) {
        std::lock_guard<std::mutex> lk(slots_[i]->mu);
        Recreate(slot);
    } else if (a.switches && Chance(0.3)) {
        std::lock_guard<std::mutex> lk(slots_[i]->mu);
        clients_[i]->SwitchSpi();
    }
}

// Judges finished connections whose front figures are final.
void Driver::Judge(bool final)
{
    std::vector<ConnReport> work;
    {
        std::lock_guard<std::mutex> lk(pendingMu_);
        work.swap(pending_);
    }
    std::vector<ConnReport> later;
    for (const ConnReport& r : work) {
        ConnFigures fig;
        const FrontPool::Lookup found = fronts_->Figures(r.frontId, r.session, fig);
        if (found == FrontPool::Lookup::Pending && !final) {
            later.push_back(r);
            continue;
        }
        if (found != FrontPool::Lookup::Found) {
            ++tally_.connectionsUnresolved;
            tally_.uncheckedRecords += r.check.Records();
            continue;
        }
        ++tally_.connectionsChecked;
        tally_.recordsChecked += r.check.Records();
        // A reset may have thrown away the last records written: the client
        // owes the prefix it got, in order, but not the tail.
        if (!fig.acknowledged && !r.tailExempt)
            ++tally_.connectionsUnacknowledged;
        const SeqVerdict v = soak::Judge(r.check, fig.wholeBeforeFault, r.tailExempt || !fig.acknowledged);
        if (v == SeqVerdict::Ok)
            continue;
        (v == SeqVerdict::Lost ? tally_.connectionsLost : tally_.connectionsDuplicated)++;
        tally_.Fail(std::string(v == SeqVerdict::Lost ? "lost" : "duplicated or reordered") + ": front run " +
                    std::to_string(r.frontId) + " connection " + std::to_string(r.session) +
                    ": front wrote 1.." + std::to_string(fig.wholeBeforeFault) + " whole, client had 1.." +
                    std::to_string(r.check.Prefix()) + " in order" +
                    (r.check.Broken() ? ", then " + std::to_string(r.check.BreakingSeq()) : "") +
                    (r.tailExempt ? " (released)" : ""));
    }
    std::lock_guard<std::mutex> lk(pendingMu_);
    pending_.insert(pending_.end(), later.begin(), later.end());
}

void Driver::FloodWindow(bool first)
{
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const std::uint64_t now = slots_[i]->records.load();
        if (!first && now == windowStart_[i]) {
            ++fig_.starvedWindows;
            tally_.Fail("client " + std::to_string(i) + " received nothing in a 5 s window");
        }
        windowStart_[i] = now;
    }
    if (!first)
        ++fig_.windows;
}

// Releases every client and waits until the fronts have seen their
// connections close, so that every finished connection is judged.
void Driver::ReleaseAll()
{
    for (std::size_t i = 0; i < clients_.size(); ++i) {
        std::lock_guard<std::mutex> lk(slots_[i]->mu);
        clients_[i]->ReleaseFromThread(true);
        quarantine_.push_back(std::move(clients_[i]));
    }
    for (int i = 0; i < 20; ++i) {
        Judge(false);
        {
            std::lock_guard<std::mutex> lk(pendingMu_);
            if (pending_.empty())
                break;
        }
        std::this_thread::sleep_for(milliseconds(250));
    }
}

// Memory is compared at two quiet points, with every client released: what
// is in flight (a client holding a large body, say) differs from one moment
// to the next; what stays after Release is what would pile up.
ProcessFigures Driver::Quiet()
{
    ReleaseAll();
    quarantine_.clear();
    return ReadProcess();
}

void Driver::Setup()
{
    std::printf("soak: %d clients (%d redundant on %d front pairs), %d fronts, %.0f s, seed %llu%s\n",
                opt_.clients, opt_.redundant, opt_.Pairs(), opt_.fronts, opt_.seconds,
                static_cast<unsigned long long>(opt_.seed), opt_.flood ? ", flood" : "");
    std::fflush(stdout);
    fronts_->Start(); // forks: before the library starts its thread
    // The library's loop thread starts with the first client; the baseline
    // is taken once it runs and the client is gone again.
    {
        CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
        char nowhere[] = "tcp://127.0.0.1:1";
        api->RegisterFront(nowhere);
        api->Init();
        api->Release();
    }
    fig_.base = ReadProcess();
    shared_.tally = &tally_;
    shared_.fronts = fronts_->Addresses();
    shared_.pairs = fronts_->Pairs();
    shared_.instruments = opt_.instruments;
    shared_.epoch = std::chrono::steady_clock::now();
    shared_.report = [this](const ConnReport& r) {
        std::lock_guard<std::mutex> lk(pendingMu_);
        pending_.push_back(r);
    };
    StartClients();
    probe_.Start(fronts_->ProbeAddress());
}

// The run itself: a probe of the process's scheduling every few
// milliseconds, and around it the chaos, the judging, the memory baseline
// and the flood windows when they are due.
void Driver::Loop()
{
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::milliseconds(static_cast<long>(opt_.seconds * 1000));
    const auto warmAt = start + std::chrono::milliseconds(static_cast<long>(opt_.warmup * 1000));
    auto nextChaos = start, nextJudge = start + JudgePeriod;
    auto nextWindow = start + Window; // the first window opens once clients are in
    bool warmTaken = false, windowsOpen = false;
    windowStart_.assign(slots_.size(), 0);
    for (;;) {
        const auto before = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(ProbeSleep);
        const auto now = std::chrono::steady_clock::now();
        Tally::Raise(tally_.longestOversleepNs,
                     std::chrono::duration_cast<std::chrono::nanoseconds>(now - before - ProbeSleep).count());
        if (now >= end)
            break;
        if (now >= nextChaos) {
            Chaos();
            nextChaos = now + ChaosPeriod;
        }
        if (now >= nextJudge) {
            Judge(false);
            nextJudge = now + JudgePeriod;
        }
        if (!warmTaken && now >= warmAt) {
            fig_.warmInFlight = ReadProcess();
            fig_.warm = Quiet();
            StartClients();
            warmTaken = true;
            nextWindow = std::chrono::steady_clock::now() + Window; // clients log in again
        }
        if (opt_.flood && warmTaken && now >= nextWindow) {
            if (!windowsOpen) {
                floodFrom_ = now;
                for (const auto& s : slots_)
                    fig_.floodFrom.push_back(s->records.load());
            }
            FloodWindow(!windowsOpen);
            windowsOpen = true;
            nextWindow += Window;
        }
    }
    if (windowsOpen) {
        fig_.floodSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - floodFrom_).count();
        for (const auto& s : slots_)
            fig_.floodTo.push_back(s->records.load());
    }
    fig_.endInFlight = ReadProcess();
    if (!warmTaken) {
        fig_.warmInFlight = fig_.endInFlight;
        fig_.warm = Quiet();
        fig_.end = fig_.warm;
    } else {
        fig_.end = Quiet();
    }
    probe_.Release();
    fig_.probeGapMs = probe_.LongestGapMs();
    fig_.probeGapAt = probe_.LongestGapAt();
    fig_.probeRecords = probe_.Records();
}

void Driver::Finish()
{
    // The last figures come from the ended runs, once the fronts have stopped.
    fronts_->Stop();
    Judge(true);
    const FrontCounts counts = fronts_->Exit();
    quarantine_.clear();
    fig_.fronts = counts;
    fig_.after = ReadProcess();
    fronts_.reset();
#ifdef SOAK_SANITIZED
    fig_.resourcesChecked = false;
#else
    fig_.resourcesChecked = true;
#endif
    fig_.logged = ReadThrowRecords("KVMDLog");
}

int Driver::Run()
{
    Setup();
    Loop();
    Finish();
    return Print(opt_, tally_, fig_);
}

} // namespace

int Run(const Options& options)
{
    std::string dir = options.workdir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/mdlink-soak-XXXXXX";
        if (!mkdtemp(tmpl))
            throw std::runtime_error("cannot make a working directory");
        dir = tmpl;
    } else {
        mkdir(dir.c_str(), 0755);
    }
    if (chdir(dir.c_str()) != 0)
        throw std::runtime_error("cannot enter " + dir);
    std::printf("soak: working directory %s (the clients' log is under KVMDLog/)\n", dir.c_str());
    Driver driver(options);
    return driver.Run();
}

} // namespace soak
