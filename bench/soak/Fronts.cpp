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
    f.final = !s.open;
    f.wholeBeforeFault = 0;
    return f;
}

} // namespace

std::uint64_t StampedSeq(const CThostFtdcDepthMarketDataField& d)
{
    (void)d;
    return 0;
}

FrontPool::FrontPool(const Options& options, std::uint64_t seed) : opt_(options), rng_(seed)
{
    fronts_.resize(static_cast<std::size_t>(opt_.fronts));
}

FrontPool::~FrontPool()
{
    Stop();
}

double FrontPool::Uniform(double lo, double hi)
{
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
}

Fault FrontPool::PickFault()
{
    // About a third of the runs are healthy, so data flows between faults.
    if (opt_.faults.empty() || Uniform(0, 1) < 0.3)
        return Fault::None;
    return opt_.faults[std::uniform_int_distribution<std::size_t>(0, opt_.faults.size() - 1)(rng_)];
}

mdfront::FrontConfig FrontPool::ConfigFor(Fault fault, int frontId, std::uint16_t port)
{
    mdfront::FrontConfig c;
    c.port = port;
    c.rate = opt_.rate;
    c.front_id = frontId;
    c.seed = rng_();
    c.record_limit = 0; // figures only: a long run must not grow the fronts' memory
    const int form = std::uniform_int_distribution<int>(0, 2)(rng_);
    c.form = form == 0 ? mdfront::DepthForm::Binary
                       : form == 1 ? mdfront::DepthForm::Text : mdfront::DepthForm::Joined;
    auto between = [this](std::uint64_t lo, std::uint64_t hi) {
        return std::uniform_int_distribution<std::uint64_t>(lo, hi)(rng_);
    };
    mdfront::FrontFaults& f = c.faults;
    switch (fault) {
    case Fault::Silent:
        f.silent_after_time = std::chrono::milliseconds(between(200, 5000));
        break;
    case Fault::CloseMidBody:
        f.close_mid_body_after_frames = between(3, 2000);
        break;
    case Fault::Garbage:
        f.garbage_after_login = between(16, 2048);
        break;
    case Fault::Announce:
        // Past the largest body the client takes (the link is dropped at
        // once), or within it (the client waits for it until the silence
        // tells).
        f.announce_body_length = static_cast<std::uint32_t>(
            Uniform(0, 1) < 0.5 ? between(2u << 20, 64u << 20) : between(1000, 1u << 20));
        break;
    case Fault::BigBody:
        f.big_body_length = between(500, 200000);
        break;
    case Fault::Trickle:
        f.trickle_delay = std::chrono::microseconds(between(20, 300));
        break;
    case Fault::RefuseLogin:
        f.refuse_logins = true;
        break;
    case Fault::ShortBody:
        c.form = mdfront::DepthForm::Binary; // only binary bodies are cut
        f.short_depth = between(1, 407);
        if (Uniform(0, 1) < 0.3)
            f.short_login = between(1, 247);
        break;
    case Fault::Unknown:
        f.unknown_frames = between(1, 8);
        f.unknown_body_length = between(1, 2000);
        break;
    default:
        break;
    }
    return c;
}

void FrontPool::Start()
{
    const auto now = Clock::now();
    for (Front& f : fronts_)
        if (!StartRun(f, now))
            throw std::runtime_error("a front could not bind a loopback port");
}

std::vector<std::uint16_t> FrontPool::Ports() const
{
    std::vector<std::uint16_t> out;
    for (const Front& f : fronts_)
        out.push_back(f.port);
    return out;
}

bool FrontPool::StartRun(Front& f, Clock::time_point now)
{
    auto run = std::make_unique<Run>();
    run->frontId = nextFrontId_++;
    // Without kills a front keeps its first run, and so its first fault.
    run->fault = PickFault();
    run->server = std::make_unique<mdfront::FrontServer>(ConfigFor(run->fault, run->frontId, f.port));
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
    ++runs[static_cast<int>(run->fault)];
    if (opt_.verbose)
        std::printf("front %d on port %u: run with fault %s\n", run->frontId, f.port,
                    FaultName(run->fault));
    live_[run->frontId] = run.get();
    f.run = std::move(run);
    f.next = now + std::chrono::milliseconds(static_cast<long>(Uniform(5000, 40000)));
    return true;
}

void FrontPool::EndRun(Front& f, bool killed)
{
    Run& run = *f.run;
    run.server->Stop();
    DeadRun dead{run.frontId, {}};
    const std::size_t n = run.server->ConnectionCount();
    for (std::size_t i = 0; i < n; ++i) {
        const mdfront::ConnectionStats s = run.server->Stats(i);
        dead.figures.push_back(FiguresOf(s));
        dead.figures.back().final = true;
    }
    connections[static_cast<int>(run.fault)] += n;
    if (killed) {
        ++kills;
        connections[static_cast<int>(Fault::Kill)] += n;
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
