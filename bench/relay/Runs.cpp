#include "Runs.h"

#include "BusClient.h"
#include "ClientSession.h"
#include "NatsServers.h"
#include "Receivers.h"
#include "Sender.h"
#include "Stream.h"

#include <nats/nats.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace benchrelay {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t FrameSize = 24 + sizeof(CThostFtdcDepthMarketDataField);

void Sleep(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); // a measuring window
}

// utime + stime of one thread (/proc/PID/task/TID/stat), in seconds.
double ThreadCpuSeconds(const std::filesystem::path& stat)
{
    std::ifstream in(stat);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds of a relay's threads: the library's loop thread (named
// md-library), and all the others (publishing, the NATS client's).
struct RelayCpu {
    double library = 0;
    double publishing = 0;
};

RelayCpu CpuOf(pid_t pid)
{
    RelayCpu cpu;
    std::error_code ec;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        (name == "md-library" ? cpu.library : cpu.publishing) += ThreadCpuSeconds(task.path() / "stat");
    }
    return cpu;
}

// A counter of the relay's last status line ("received", "dropped", ...).
std::uint64_t Counter(const std::string& output, const std::string& name)
{
    const std::size_t line = output.rfind("mdrelay: received=");
    if (line == std::string::npos)
        return 0;
    const std::string status = output.substr(line, output.find('\n', line) - line);
    const std::size_t at = status.find(" " + name + "=");
    return at == std::string::npos ? 0 : std::stoull(status.substr(at + name.size() + 2));
}

// Counts depth records in the library's callback; logs in and subscribes
// as mdcli does.
class CountingSpi : public mdtools::ClientSession {
public:
    CountingSpi(const mdtools::SessionOptions& o, mdtools::MarketBoard& b) : ClientSession(o, b, nullptr) {}
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField*) override
    {
        count.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<std::uint64_t> count{0};
};

} // namespace

bool FreshStream(const std::string& urls, const std::string& storage, int replicas)
{
    relaytest::BusClient bus(urls);
    bus.Delete("MD");
    jsStreamConfig cfg;
    jsStreamConfig_Init(&cfg);
    const char* subjects[] = {"md.>"};
    cfg.Name = "MD";
    cfg.Subjects = subjects;
    cfg.SubjectsLen = 1;
    cfg.Storage = storage == "memory" ? js_MemoryStorage : js_FileStorage;
    cfg.Replicas = replicas;
    cfg.MaxAge = 24LL * 3600 * 1'000'000'000;
    cfg.Duplicates = 120LL * 1'000'000'000;
    return bus.Connected() && js_AddStream(nullptr, bus.JetStream(), &cfg, nullptr, nullptr) == NATS_OK;
}

RelayFigures RelayRate(const std::string& urls, const std::string& front,
                       const std::vector<std::string>& streamFlags, double warmup, double seconds,
                       const std::filesystem::path& dir)
{
    relaytest::BusClient bus(urls);
    bus.Delete("MD");
    std::vector<std::string> argv = {MDRELAY_PROGRAM,
                                     "--front",
                                     front,
                                     "--nats",
                                     urls,
                                     "--instruments",
                                     "au2612,ag2612,IF2612,IC2612",
                                     "--status-interval",
                                     "100ms",
                                     "--name",
                                     "bench"};
    argv.insert(argv.end(), streamFlags.begin(), streamFlags.end());
    relaytest::Child relay;
    RelayFigures f;
    if (!relay.Start(argv, (dir / "relay.out").string()))
        return f;
    relaytest::Eventually([&] { return bus.State("MD").messages > 0; });
    Sleep(warmup);
    std::string out = relay.Output();
    const std::uint64_t stored0 = bus.State("MD").messages, received0 = Counter(out, "received"),
                        dropped0 = Counter(out, "dropped");
    const RelayCpu cpu0 = CpuOf(relay.Pid());
    const auto t0 = Clock::now();
    Sleep(seconds);
    out = relay.Output();
    const std::uint64_t stored1 = bus.State("MD").messages, received1 = Counter(out, "received"),
                        dropped1 = Counter(out, "dropped");
    const RelayCpu cpu1 = CpuOf(relay.Pid());
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    relay.Signal(SIGTERM);
    relay.Wait(relaytest::Patience);
    f.stored = (stored1 - stored0) / elapsed;
    f.received = (received1 - received0) / elapsed;
    // Kept up: nothing dropped, and stored about as fast as received.
    f.keptUp = dropped1 == dropped0 && f.stored >= 0.95 * f.received;
    if (stored1 > stored0)
        f.publishUsPerRecord = (cpu1.publishing - cpu0.publishing) * 1e6 / (stored1 - stored0);
    if (received1 > received0)
        f.libraryUsPerRecord = (cpu1.library - cpu0.library) * 1e6 / (received1 - received0);
    return f;
}

double LibraryRate(const std::string& front, double warmup, double seconds)
{
    mdtools::SessionOptions o;
    o.fronts = {front};
    o.instruments = {"au2612", "ag2612", "IF2612", "IC2612"};
    mdtools::MarketBoard board;
    CountingSpi spi(o, board);
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
    spi.Attach(api);
    api->RegisterSpi(&spi);
    std::string address = front;
    api->RegisterFront(&address[0]);
    api->Init();
    relaytest::Eventually([&] { return spi.count.load() > 0; });
    Sleep(warmup);
    const std::uint64_t c0 = spi.count.load();
    const auto t0 = Clock::now();
    Sleep(seconds);
    const std::uint64_t c1 = spi.count.load();
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    api->Release();
    return (c1 - c0) / elapsed;
}

namespace {

struct LatencySink {
    std::mutex mu;
    std::condition_variable done;
    std::vector<std::int64_t> samples;
    long seen = 0;
    long warmup = 0;
    bool complete = false;
};

void OnComplete(void* closure)
{
    auto* sink = static_cast<LatencySink*>(closure);
    std::lock_guard<std::mutex> lk(sink->mu);
    sink->complete = true;
    sink->done.notify_all();
}

void OnStored(natsConnection*, natsSubscription*, natsMsg* msg, void* closure)
{
    const std::int64_t now = bench::NowNs();
    auto* sink = static_cast<LatencySink*>(closure);
    if (natsMsg_GetDataLength(msg) == sizeof(CThostFtdcDepthMarketDataField)) {
        CThostFtdcDepthMarketDataField d;
        std::memcpy(&d, natsMsg_GetData(msg), sizeof d);
        std::lock_guard<std::mutex> lk(sink->mu);
        if (sink->seen++ >= sink->warmup)
            sink->samples.push_back(now - static_cast<std::int64_t>(d.PreDelta));
    }
    natsMsg_Destroy(msg);
}

} // namespace

std::vector<std::int64_t> RelayLatency(const std::string& urls, const std::string& storage, bool lowLatency,
                                       long count, long warmup, long intervalNs,
                                       const std::filesystem::path& dir)
{
    LatencySink sink;
    sink.warmup = warmup;
    relaytest::BusClient bus(urls);
    bus.Delete("MD");
    const std::string frames = bench::DepthFrames(bench::Form::Binary, 64);
    bench::Sender sender;
    sender.Pace(frames, FrameSize, count + warmup, intervalNs);
    relaytest::Child relay;
    const std::string front = "tcp://127.0.0.1:" + std::to_string(sender.Port());
    std::vector<std::string> argv = {MDRELAY_PROGRAM, "--front", front,       "--nats", urls,
                                     "--instruments", "x",       "--storage", storage,  "--name",
                                     "bench"};
    if (lowLatency)
        argv.push_back("--low-latency");
    if (!relay.Start(argv, (dir / "latency.out").string()))
        return {};
    relaytest::Eventually([&] { return bus.State("MD").exists; });
    jsSubOptions so;
    jsSubOptions_Init(&so);
    so.Stream = "MD";
    so.Ordered = true;
    so.Config.DeliverPolicy = js_DeliverAll;
    natsSubscription* sub = nullptr;
    if (js_Subscribe(&sub, bus.JetStream(), "md.>", OnStored, &sink, nullptr, &so, nullptr) == NATS_OK) {
        natsSubscription_SetOnCompleteCB(sub, OnComplete, &sink);
        relaytest::Eventually([&] {
            std::lock_guard<std::mutex> lk(sink.mu);
            return sink.samples.size() >= static_cast<std::size_t>(count);
        });
    }
    relay.Signal(SIGTERM);
    relay.Wait(relaytest::Patience);
    sender.Wait();
    std::unique_lock<std::mutex> lk(sink.mu);
    if (sub) {
        lk.unlock();
        natsSubscription_Unsubscribe(sub);
        lk.lock();
        sink.done.wait_for(lk, std::chrono::seconds(10), [&] { return sink.complete; });
        natsSubscription_Destroy(sub);
    }
    return sink.samples;
}

std::vector<std::int64_t> DirectLatency(long count, long warmup, long intervalNs)
{
    const std::string frames = bench::DepthFrames(bench::Form::Binary, 64);
    bench::Sender sender;
    sender.Pace(frames, FrameSize, count + warmup, intervalNs);
    std::vector<std::int64_t> samples = bench::LibraryLatency(sender.Port(), count + warmup, warmup);
    sender.Wait();
    return samples;
}

} // namespace benchrelay
