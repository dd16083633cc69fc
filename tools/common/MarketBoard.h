// What a tool has received so far, shared between the library's callback
// thread (which writes) and the main thread (which draws). Every member
// function takes the board's one lock.
#pragma once

#include "MdApi.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace mdtools {

struct TickerRow {
    CThostFtdcDepthMarketDataField depth;
    long long recv_us = 0; // local receive time, microseconds since the epoch
    std::uint64_t count = 0;
};

class MarketBoard {
public:
    // Rows kept at most. A front may send any number of distinct ids (the
    // joined text form makes ids of its own), so rows past this are not
    // kept; their ids are counted, distinct ones up to maxHiddenCounted.
    static constexpr std::size_t DefaultMaxRows = 1000;
    static constexpr std::size_t DefaultMaxHiddenCounted = 100000;

    explicit MarketBoard(std::size_t maxRows = DefaultMaxRows,
                         std::size_t maxHiddenCounted = DefaultMaxHiddenCounted);

    void AddDepth(const CThostFtdcDepthMarketDataField& depth, long long recvUs);
    void AddForQuote();
    // Stamped with the local time of the call.
    void AddEvent(const std::string& text);

    // Events since the last call, oldest first.
    std::vector<std::string> TakeEvents();
    // Every instrument's latest record, in order of first arrival; with
    // changedOnly, only those updated since the last call that asked so.
    std::vector<TickerRow> Rows(bool changedOnly);

    std::uint64_t Records() const;
    std::uint64_t ForQuotes() const;
    std::size_t Instruments() const;
    // Distinct ids seen but not kept (at most maxHiddenCounted), and their records.
    std::size_t HiddenInstruments() const;
    std::uint64_t HiddenRecords() const;
    // "N" or, once the count has stopped, "N+".
    std::string HiddenText() const;

private:
    const std::size_t maxRows_;
    const std::size_t maxHiddenCounted_;
    mutable std::mutex mu_;
    std::vector<TickerRow> rows_;
    std::vector<bool> changed_;
    std::map<std::string, std::size_t> index_;
    std::vector<std::string> events_;
    std::uint64_t records_ = 0;
    std::uint64_t forQuotes_ = 0;
    std::set<std::string> hidden_;
    std::uint64_t hiddenRecords_ = 0;
};

} // namespace mdtools
