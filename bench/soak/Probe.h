// A client that measures how long the library's loop thread goes without
// calling back: a healthy front feeds it a steady 1000 records a second, so
// any gap between two of its records beyond a millisecond is a stall of the
// loop (a blocked callback, a long batch of other clients' frames, the
// thread not being scheduled), or of the front, which only makes the
// measure generous.
#pragma once

#include "MdApi.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace soak {

class Probe final : public CThostFtdcMdSpi {
public:
    void Start(const std::string& front);
    void Release();
    // The longest gap between two records on one connection, in ms.
    double LongestGapMs() const { return static_cast<double>(longestGapNs_.load()) / 1e6; }
    std::uint64_t Records() const { return records_.load(); }
    // When the longest gap ended, in seconds from Start.
    double LongestGapAt() const { return longestGapAt_; }

    void OnFrontConnected() override;
    void OnFrontDisconnected(int reason) override;
    void OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField*, int, bool) override;
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField*) override;

private:
    CThostFtdcMdApi* api_ = nullptr;
    bool haveLast_ = false; // loop thread only
    std::chrono::steady_clock::time_point last_;
    std::atomic<std::int64_t> longestGapNs_{0};
    std::atomic<std::uint64_t> records_{0};
    std::chrono::steady_clock::time_point started_;
    double longestGapAt_ = 0; // read once the probe is released
};

} // namespace soak
