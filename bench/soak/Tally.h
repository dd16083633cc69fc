// What the soak counts while it runs: written by the library's loop thread
// (callbacks) and by the soak's driver thread, read at the end.
#pragma once

#include "Checks.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace soak {

// The callbacks the soak's application receives and may throw from.
enum class Callback {
    FrontConnected,
    FrontDisconnected,
    RspUserLogin,
    RspSubMarketData,
    RtnDepthMarketData,
    Count_
};

const char* CallbackName(Callback c);

struct Tally {
    std::atomic<std::uint64_t> records{0};
    std::atomic<std::uint64_t> uncheckedRecords{0}; // on connections no front figure covers
    std::atomic<std::uint64_t> thrown[static_cast<int>(Callback::Count_)] = {};
    std::atomic<std::uint64_t> blocks{0};
    std::atomic<std::uint64_t> releasesFromThread{0};
    std::atomic<std::uint64_t> releasesInCallback{0};
    std::atomic<std::uint64_t> spiSwitches{0};
    std::atomic<std::uint64_t> callbacksAfterRelease{0};
    std::atomic<std::uint64_t> callbacksOnReplacedSpi{0};
    std::atomic<std::int64_t> longestCallbackNs{0};
    std::atomic<std::int64_t> longestOversleepNs{0};

    // Connections judged against the front's figures.
    std::atomic<std::uint64_t> connectionsChecked{0};
    std::atomic<std::uint64_t> recordsChecked{0};
    std::atomic<std::uint64_t> connectionsLost{0};
    std::atomic<std::uint64_t> connectionsDuplicated{0};
    std::atomic<std::uint64_t> connectionsUnresolved{0};
    std::atomic<std::uint64_t> connectionsUnacknowledged{0}; // closed before the client had all

    // Redundant clients on pairs of fronts serving one feed.
    std::atomic<std::uint64_t> pairRecords{0};
    std::atomic<std::uint64_t> pairOutOfOrder{0}; // delivered twice or out of order
    std::atomic<std::uint64_t> pairLost{0};       // brought by a link while news, never delivered
    std::atomic<std::uint64_t> pairHeld{0};       // held while a link joined ahead of the other
    std::atomic<std::uint64_t> pairLinkLosses{0}; // one link lost, whether the application heard or not

    std::mutex mu;                                // guards everything below
    std::map<int, std::uint64_t> reasons;         // OnFrontDisconnected reason -> count
    std::map<int, std::uint64_t> pairDisconnects; // the same, heard by redundant clients
    DelayBound retry{RetryDelayMs};
    DelayBound silence{SilenceMs};
    std::vector<std::string> failures; // the first few, for the report

    void Fail(const std::string& what)
    {
        std::lock_guard<std::mutex> lk(mu);
        if (failures.size() < 20)
            failures.push_back(what);
    }

    static void Raise(std::atomic<std::int64_t>& a, std::int64_t v)
    {
        std::int64_t cur = a.load(std::memory_order_relaxed);
        while (v > cur && !a.compare_exchange_weak(cur, v, std::memory_order_relaxed)) {}
    }
};

} // namespace soak
