#include "ForQuoteWindow.h"

namespace mdlink {

namespace {

// FNV-1a over a text member up to its terminator, then a separator.
template <std::size_t N>
std::uint64_t Mix(std::uint64_t h, const char (&text)[N])
{
    for (std::size_t i = 0; i < N && text[i] != 0; ++i) {
        h ^= static_cast<unsigned char>(text[i]);
        h *= 1099511628211ull;
    }
    h ^= 0xFF;
    return h * 1099511628211ull;
}

} // namespace

std::uint64_t ForQuoteWindow::KeyOf(const CThostFtdcForQuoteRspField& q)
{
    std::uint64_t h = 1469598103934665603ull;
    h = Mix(h, q.ExchangeID);
    h = Mix(h, q.InstrumentID);
    return Mix(h, q.ForQuoteSysID);
}

bool ForQuoteWindow::Admit(const CThostFtdcForQuoteRspField& q)
{
    const std::uint64_t key = KeyOf(q);
    for (std::size_t i = 0; i < filled_; ++i)
        if (keys_[i] == key)
            return false;
    keys_[next_] = key;
    next_ = (next_ + 1) % Window;
    if (filled_ < Window)
        ++filled_;
    return true;
}

} // namespace mdlink
