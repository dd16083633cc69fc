#include "metrics/Metrics.h"

#include "metrics/Figures.h"
#include "metrics/Listener.h"
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

std::string ServePage()
{
    return RenderPage(ListClients(), Kelvo_THREAD_GetTickCount());
}

void Sample()
{
    SampleRecords(ListClients(), Kelvo_THREAD_GetTickCount());
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
        listener = Listener::Start(address, &ServePage, error, Listener::Limits(), &Sample,
                                   std::chrono::milliseconds(LinkFigures::SampleMs));
    } catch (const std::exception& e) {
        error = e.what(); // no thread, no memory
    }
    if (!listener) {
        std::snprintf(line, sizeof line, "metrics: cannot serve on %.64s:%u (%.128s), no metrics served",
                      address.host.c_str(), static_cast<unsigned>(address.port), error.c_str());
        log(LogWarning, line);
        return;
    }
    g_listener = listener.release();
    std::snprintf(line, sizeof line, "metrics: serving on %.64s:%u", g_listener->Host().c_str(),
                  static_cast<unsigned>(g_listener->Port()));
    log(LogInfo, line);
}

} // namespace metrics
} // namespace mdlink
