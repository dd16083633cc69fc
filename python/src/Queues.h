// What waits between the library's thread and Python: depth records in a
// bounded ring, events as plain copies of the records they carry.
#pragma once

#include "MdApi.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace mdpy {

using Depth = CThostFtdcDepthMarketDataField;

// Bounded FIFO of depth records. Storage grows on demand up to the capacity;
// once full, a new record overwrites the oldest.
class DepthRing {
public:
    explicit DepthRing(std::size_t capacity) : cap_(capacity) {}

    // Returns true when the oldest record was dropped to make room.
    bool Push(const Depth& d)
    {
        if (size_ == cap_) {
            buf_[head_] = d;
            head_ = (head_ + 1) % cap_;
            return true;
        }
        if (size_ == buf_.size())
            Grow();
        buf_[(head_ + size_) % buf_.size()] = d;
        ++size_;
        return false;
    }

    std::size_t Pop(Depth* out, std::size_t n)
    {
        n = std::min(n, size_);
        const std::size_t first = std::min(n, buf_.size() - head_);
        std::memcpy(static_cast<void*>(out), buf_.data() + head_, first * sizeof(Depth));
        std::memcpy(static_cast<void*>(out + first), buf_.data(), (n - first) * sizeof(Depth));
        head_ = buf_.empty() ? 0 : (head_ + n) % buf_.size();
        size_ -= n;
        return n;
    }

    std::size_t Size() const { return size_; }

private:
    void Grow()
    {
        std::vector<Depth> next(std::min(cap_, std::max<std::size_t>(64, buf_.size() * 2)));
        const std::size_t n = size_;
        Pop(next.data(), n);
        buf_.swap(next);
        head_ = 0;
        size_ = n;
    }

    std::size_t cap_;
    std::vector<Depth> buf_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

enum class EventKind {
    Connected,
    Disconnected,
    Login,
    Subscribed,
    Unsubscribed,
    ForQuoteSubscribed,
    ForQuoteUnsubscribed,
    ForQuote,
    Count
};

inline const char* const EventNames[] = {"connected",           "disconnected",          "login",
                                  "subscribed",          "unsubscribed",          "for_quote_subscribed",
                                  "for_quote_unsubscribed", "for_quote"};

struct EventRecord {
    EventKind kind = EventKind::Connected;
    int reason = 0;
    int requestId = 0;
    bool isLast = false;
    bool hasLogin = false;
    bool hasInfo = false;
    bool hasInstrument = false;
    bool hasNotice = false;
    CThostFtdcRspUserLoginField login{};
    CThostFtdcRspInfoField info{};
    CThostFtdcSpecificInstrumentField instrument{};
    CThostFtdcForQuoteRspField notice{};
};

enum class LoginState { None, Ok, Failed };

} // namespace mdpy
