#include "Fronts.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

namespace soak {

namespace {

// Ended runs whose figures stay available to connections reported late.
constexpr std::size_t DeadRunsKept = 16;

ConnFigures FiguresOf(const mdfront::ConnectionStats& s)
{
    ConnFigures f;
    f.final = s.socket_closed;
    f.wholeBeforeFault = s.stamp_before_fault;
    f.acknowledged = s.all_acknowledged;
    return f;
}

} // namespace

std::uint64_t StampedSeq(const CThostFtdcDepthMarketDataField& d)
{
    return d.Volume > 0 ? static_cast<std::uint64_t>(d.Volume) : 0;
}

FrontPool::FrontPool(const Options& options, std::uint64_t seed)
    : opt_(options), rng_(seed), faultRng_(seed * 0x9E3779B97F4A7C15ull + 1)
{
    fronts_.resize(static_cast<std::size_t>(opt_.fronts + 2 * opt_.Pairs()));
    for (int p = 0; p < opt_.Pairs(); ++p) {
        const int form = std::uniform_int_distribution<int>(0, 2)(rng_);
        pairs_.push_back({rng_(),
                          form == 0       ? mdfront::DepthForm::Binary
                              : form == 1 ? mdfront::DepthForm::Text
                                          : mdfront::DepthForm::Joined});
        for (int member = 0; member < 2; ++member)
            fronts_[static_cast<std::size_t>(opt_.fronts + 2 * p + member)].pair = p;
    }
}

FrontPool::~FrontPool()
{
    Stop();
}

double FrontPool::Uniform(double lo, double hi)
{
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
}

mdfront::FrontConfig FrontPool::ConfigFor(int frontId, const Front& f)
{
    mdfront::FrontConfig c;
    c.port = f.port;
    c.rate = opt_.rate;
    c.front_id = frontId;
    c.record_limit = 0; // figures only: a long run must not grow the fronts' memory
    if (f.pair >= 0) {
        // One feed on both fronts of the pair, run after run; which of them
        // leads changes with each run's delay.
        const PairFeed& feed = pairs_[static_cast<std::size_t>(f.pair)];
        c.shared_feed = true;
        c.seed = feed.seed;
        c.form = feed.form;
        c.delay = std::chrono::microseconds(static_cast<long long>(Uniform(0, 30000)));
    } else {
        c.seed = rng_();
        c.stamp_sequence = true;
        const int form = std::uniform_int_distribution<int>(0, 2)(rng_);
        c.form = form == 0 ? mdfront::DepthForm::Binary
            : form == 1    ? mdfront::DepthForm::Text
                           : mdfront::DepthForm::Joined;
    }
    c.faults_of = [this, form = c.form, pair = f.pair >= 0](std::size_t) { return FaultsOf(form, pair); };
    return c;
}

mdfront::FrontFaults FrontPool::FaultsOf(mdfront::DepthForm form, bool pair)
{
    std::lock_guard<std::mutex> lk(faultMu_);
    auto between = [this](std::uint64_t lo, std::uint64_t hi) {
        return std::uniform_int_distribution<std::uint64_t>(lo, hi)(faultRng_);
    };
    auto chance = [this](double p) { return std::uniform_real_distribution<double>(0, 1)(faultRng_) < p; };
    // About a third of the connections are healthy, so data flows between faults.
    Fault fault =
        opt_.faults.empty() || chance(0.3) ? Fault::None : opt_.faults[between(0, opt_.faults.size() - 1)];
    // A record cut short differs from its whole copy on the other front of a
    // pair, and different records stamped alike are both news: not for pairs.
    if (pair && fault == Fault::ShortBody)
        fault = Fault::None;
    ++connections_[static_cast<int>(fault)];
    mdfront::FrontFaults f;
    switch (fault) {
    case Fault::Silent: f.silent_after_time = std::chrono::milliseconds(between(200, 5000)); break;
    case Fault::CloseMidBody: f.close_mid_body_after_frames = between(3, 2000); break;
    case Fault::Garbage: f.garbage_after_login = between(16, 2048); break;
    case Fault::Announce:
        // Past the largest body the client takes (the link is dropped at
        // once), or within it (the client waits for it until the silence
        // tells).
        f.announce_body_length =
            static_cast<std::uint32_t>(chance(0.5) ? between(2u << 20, 64u << 20) : between(1000, 1u << 20));
        break;
    case Fault::BigBody: f.big_body_length = between(500, 200000); break;
    case Fault::Trickle: f.trickle_delay = std::chrono::microseconds(between(20, 300)); break;
    case Fault::RefuseLogin: f.refuse_logins = true; break;
    case Fault::ShortBody:
        // Only binary depth bodies are cut; the responses are cut in any form.
        // A depth body keeps at least its Volume (bytes 136 to 139), where the
        // record's number travels: what is past the body must read as zero.
        if (form == mdfront::DepthForm::Binary)
            f.short_depth = between(140, 407);
        if (form != mdfront::DepthForm::Binary || chance(0.3))
            f.short_login = between(1, 247);
        if (chance(0.3))
            f.short_instrument = between(1, 118);
        break;
    case Fault::Unknown:
        f.unknown_frames = between(1, 8);
        f.unknown_body_length = between(1, 2000);
        break;
    default: break;
    }
    return f;
}

std::array<std::uint64_t, static_cast<int>(Fault::Count_)> FrontPool::Connections() const
{
    std::lock_guard<std::mutex> lk(faultMu_);
    return connections_;
}

void FrontPool::Start()
{
    const auto now = Clock::now();
    for (Front& f : fronts_)
        if (!StartRun(f, now))
            throw std::runtime_error("a front could not bind a loopback port");
    mdfront::FrontConfig c;
    c.rate = ProbeRate;
    c.record_limit = 0;
    c.front_id = 0;
    probe_ = std::make_unique<mdfront::FrontServer>(c);
    probe_->Start();
}

std::vector<std::uint16_t> FrontPool::Ports() const
{
    std::vector<std::uint16_t> out;
    for (const Front& f : fronts_)
        out.push_back(f.port);
    out.push_back(probe_ ? probe_->Port() : 0);
    return out;
}

bool FrontPool::StartRun(Front& f, Clock::time_point now)
{
    auto run = std::make_unique<Run>();
    run->frontId = nextFrontId_++;
    run->server = std::make_unique<mdfront::FrontServer>(ConfigFor(run->frontId, f));
    try {
        f.port = run->server->Start();
    } catch (const std::exception& e) {
        // Someone else took the port while the front was down: try again later.
        ++failedStarts;
        if (opt_.verbose)
            std::printf("front on port %u: restart failed: %s\n", f.port, e.what());
        f.next = now + std::chrono::milliseconds(500);
        return false;
    }
    ++runs;
    if (opt_.verbose)
        std::printf("front run %d on port %u\n", run->frontId, f.port);
    live_[run->frontId] = run.get();
    f.run = std::move(run);
    f.next = now + std::chrono::milliseconds(static_cast<long>(Uniform(5000, 40000)));
    return true;
}

void FrontPool::EndRun(Front& f, bool killed)
{
    Run& run = *f.run;
    // Half the kills are abrupt; the others let the clients read what was
    // queued first.
    const bool drain = killed && Uniform(0, 1) < 0.5;
    run.server->Stop(std::chrono::milliseconds(drain ? static_cast<long>(Uniform(100, 1000)) : 0));
    DeadRun dead{run.frontId, {}};
    const std::size_t n = run.server->ConnectionCount();
    for (std::size_t i = 0; i < n; ++i)
        dead.figures.push_back(FiguresOf(run.server->Stats(i)));
    if (killed) {
        ++kills;
        drainedKills += drain ? 1 : 0;
        std::lock_guard<std::mutex> lk(faultMu_);
        connections_[static_cast<int>(Fault::Kill)] += n;
    }
    live_.erase(run.frontId);
    dead_.push_back(std::move(dead));
    if (dead_.size() > DeadRunsKept)
        dead_.pop_front();
    f.run.reset();
}

void FrontPool::Step(Clock::time_point now)
{
    for (Front& f : fronts_) {
        if (now < f.next)
            continue;
        if (f.run) {
            if (!opt_.kills)
                continue;
            EndRun(f, true);
            f.next = now + std::chrono::milliseconds(static_cast<long>(Uniform(200, 5000)));
        } else {
            StartRun(f, now);
        }
    }
}

void FrontPool::Stop()
{
    for (Front& f : fronts_)
        if (f.run)
            EndRun(f, false);
    if (probe_)
        probe_->Stop();
}

FrontPool::Lookup FrontPool::Figures(int frontId, int session, ConnFigures& out) const
{
    if (session < 1)
        return Lookup::Unknown;
    const std::size_t conn = static_cast<std::size_t>(session - 1);
    auto live = live_.find(frontId);
    if (live != live_.end()) {
        if (conn >= live->second->server->ConnectionCount())
            return Lookup::Unknown;
        out = FiguresOf(live->second->server->Stats(conn));
        return out.final ? Lookup::Found : Lookup::Pending;
    }
    for (const DeadRun& d : dead_) {
        if (d.frontId != frontId)
            continue;
        if (conn >= d.figures.size())
            return Lookup::Unknown;
        out = d.figures[conn];
        return Lookup::Found;
    }
    return Lookup::Unknown;
}

} // namespace soak
