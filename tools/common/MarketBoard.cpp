#include "MarketBoard.h"

#include "LocalTime.h"

#include <cstdio>
#include <cstring>

namespace mdtools {

MarketBoard::MarketBoard(std::size_t maxRows, std::size_t maxHiddenCounted)
    : maxRows_(maxRows), maxHiddenCounted_(maxHiddenCounted)
{}

void MarketBoard::AddDepth(const CThostFtdcDepthMarketDataField& depth, long long recvUs)
{
    // The id may fill its member without a terminator; never read past it.
    const char* id = depth.InstrumentID;
    const void* nul = std::memchr(id, 0, sizeof depth.InstrumentID);
    const std::string key(id, nul ? static_cast<const char*>(nul) : id + sizeof depth.InstrumentID);
    std::unique_lock<std::mutex> lk(mu_);
    ++records_;
    auto it = index_.find(key);
    if (it == index_.end() && rows_.size() >= maxRows_) {
        ++hiddenRecords_;
        const bool first = hidden_.empty();
        if (hidden_.size() < maxHiddenCounted_)
            hidden_.insert(key);
        if (first) {
            lk.unlock();
            AddEvent("board full at " + std::to_string(maxRows_) +
                     " instruments: records of further ids are counted, not shown");
        }
        return;
    }
    if (it == index_.end()) {
        it = index_.emplace(key, rows_.size()).first;
        rows_.emplace_back();
        changed_.push_back(false);
    }
    TickerRow& row = rows_[it->second];
    row.depth = depth;
    row.recv_us = recvUs;
    ++row.count;
    changed_[it->second] = true;
}

void MarketBoard::AddForQuote()
{
    std::lock_guard<std::mutex> lk(mu_);
    ++forQuotes_;
}

void MarketBoard::AddEvent(const std::string& text)
{
    const mdtools::LocalStamp now = mdtools::NowLocal();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%s.%03d] ", now.time.c_str(), now.millis);
    std::lock_guard<std::mutex> lk(mu_);
    events_.push_back(stamp + text);
}

std::vector<std::string> MarketBoard::TakeEvents()
{
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<std::string> out;
    out.swap(events_);
    return out;
}

std::vector<TickerRow> MarketBoard::Rows(bool changedOnly)
{
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<TickerRow> out;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (!changedOnly || changed_[i])
            out.push_back(rows_[i]);
        if (changedOnly)
            changed_[i] = false;
    }
    return out;
}

std::uint64_t MarketBoard::Records() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return records_;
}

std::uint64_t MarketBoard::ForQuotes() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return forQuotes_;
}

std::size_t MarketBoard::Instruments() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return rows_.size();
}

std::size_t MarketBoard::HiddenInstruments() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return hidden_.size();
}

std::uint64_t MarketBoard::HiddenRecords() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return hiddenRecords_;
}

std::string MarketBoard::HiddenText() const
{
    std::lock_guard<std::mutex> lk(mu_);
    return std::to_string(hidden_.size()) + (hidden_.size() >= maxHiddenCounted_ ? "+" : "");
}

} // namespace mdtools
