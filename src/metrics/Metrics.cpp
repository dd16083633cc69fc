#include "metrics/Metrics.h"

#include "metrics/FeedLag.h"
#include "metrics/Figures.h"
#include "metrics/InstrumentAges.h"
#include "metrics/Listener.h"
#include "metrics/LoopStall.h"
#include "metrics/Page.h"

#include "KelvoBase.h"
#include "log/LogRecord.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <string>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace mdlink {
namespace metrics {
namespace {

std::mutex g_startMutex;
bool g_looked = false;
// Never destroyed: it serves until the process ends.
Listener* g_listener = nullptr;
// Set in a forked child: the listener and its thread stayed with the
// parent, and the child starts none of its own.
std::atomic<bool> g_notOurs{false};

#if !defined(_WIN32)
void OnForkChild()
{
    // A parent's thread may have held the lock at the fork.
    new (&g_startMutex) std::mutex();
    g_notOurs.store(true);
}

[[maybe_unused]] const bool g_forkHooked = pthread_atfork(nullptr, nullptr, &OnForkChild) == 0;
#endif

// The metrics thread's tick: often enough for the loop's probe to catch
// stalls of a few tens of milliseconds.
constexpr std::chrono::milliseconds TickEvery(50);
static_assert(TickEvery.count() <= LinkFigures::SampleMs, "records are sampled at every tick");

LoopStall g_stall;

std::int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string ServePage()
{
    return RenderPage(ListClients(), Kelvo_THREAD_GetTickCount(), g_stall.Take(SteadyNs()));
}

void Sample()
{
    const std::vector<Listed> clients = ListClients();
    SampleRecords(clients, Kelvo_THREAD_GetTickCount());
    // With no client, the loop may not be running.
    if (!clients.empty() && g_stall.Posting(SteadyNs()))
        Kelvo_LOOP_Post([](void*) { g_stall.Ran(SteadyNs()); }, nullptr);
}

// MDLINK_METRICS_STALE: seconds, a fraction allowed.
void ReadStaleBound(const LogSink& log)
{
    const char* text = std::getenv(StaleVariable);
    if (!text || !*text)
        return;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && *end == '\0' && seconds > 0 && seconds <= 86400) {
        SetStaleBoundMs(static_cast<std::uint32_t>(seconds * 1000 + 0.5));
        return;
    }
    char line[200];
    std::snprintf(line, sizeof line,
                  "metrics: %s=\"%.32s\" is not a number of seconds up to 86400, %u s it is", StaleVariable,
                  text, static_cast<unsigned>(StaleBoundMs() / 1000));
    log(LogWarning, line);
}

// MDLINK_METRICS_ZONE: the exchanges' offset from UTC, for the feed lag.
void ReadZone(const LogSink& log)
{
    const char* text = std::getenv(ZoneVariable);
    if (!text || !*text)
        return;
    std::int64_t offset = 0;
    if (ParseZoneOffset(text, offset)) {
        SetExchangeZone(offset);
        return;
    }
    char line[200];
    std::snprintf(line, sizeof line, "metrics: %s=\"%.32s\" is not +HH:MM, the feed lag reads the local zone",
                  ZoneVariable, text);
    log(LogWarning, line);
}

} // namespace

void StartFromEnvironment(const LogSink& log)
{
    std::lock_guard<std::mutex> lock(g_startMutex);
    if (g_looked || g_notOurs.load())
        return;
    g_looked = true;
    const char* text = std::getenv(MetricsVariable);
    if (!text || !*text)
        return;
    char line[300];
    ListenAddress address;
    if (!ParseListenAddress(text, address)) {
        std::snprintf(line, sizeof line, "metrics: %s=\"%.64s\" is not [HOST]:PORT, no metrics served",
                      MetricsVariable, text);
        log(LogWarning, line);
        return;
    }
    std::string error;
    std::unique_ptr<Listener> listener;
    try {
        listener = Listener::Start(address, &ServePage, error, Listener::Limits(), &Sample, TickEvery);
    } catch (const std::exception& e) {
        error = e.what(); // no thread, no memory
    }
    if (!listener) {
        std::snprintf(line, sizeof line, "metrics: cannot serve on %.64s:%u (%.128s), no metrics served",
                      address.host.c_str(), static_cast<unsigned>(address.port), error.c_str());
        log(LogWarning, line);
        return;
    }
    ReadZone(log);
    ReadStaleBound(log);
    SetServing();
    g_listener = listener.release();
    std::snprintf(line, sizeof line, "metrics: serving on %.64s:%u", g_listener->Host().c_str(),
                  static_cast<unsigned>(g_listener->Port()));
    log(LogInfo, line);
}

} // namespace metrics
} // namespace mdlink
