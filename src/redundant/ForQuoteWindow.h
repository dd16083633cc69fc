// For-quote notices once each: a notice is delivered unless one with the
// same ExchangeID, InstrumentID and ForQuoteSysID was among the last
// Window notices delivered. A count rather than a time: the window needs no
// clock, and at any rate a copy from a lagging link comes within a few
// notices of the first.
//
// Loop thread only.
#pragma once

#include "MdApi.h"

#include <cstddef>
#include <cstdint>

namespace mdlink {

class ForQuoteWindow {
public:
    static constexpr std::size_t Window = 256;

    // True when the notice is news (and is now remembered).
    bool Admit(const CThostFtdcForQuoteRspField& q);

    static std::uint64_t KeyOf(const CThostFtdcForQuoteRspField& q);

private:
    std::uint64_t keys_[Window] = {};
    std::size_t next_ = 0;
    std::size_t filled_ = 0;
};

} // namespace mdlink
