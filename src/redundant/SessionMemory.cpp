#include "SessionMemory.h"

#include <cstddef>

namespace mdlink {

void SessionMemory::KeepLogin(const CThostFtdcReqUserLoginField* record, int requestId)
{
    hasLogin_ = true;
    loginHasRecord_ = record != nullptr;
    login_ = record ? *record : CThostFtdcReqUserLoginField();
    loginRequestId_ = requestId;
}

void SessionMemory::ForgetLogin()
{
    // Through a volatile pointer, so that the stores are not left out as
    // dead: the object is freed right after.
    volatile unsigned char* p = reinterpret_cast<volatile unsigned char*>(&login_);
    for (std::size_t i = 0; i < sizeof login_; ++i)
        p[i] = 0;
    hasLogin_ = false;
    loginHasRecord_ = false;
}

void SessionMemory::Apply(ListKind kind, char* ids[], int count)
{
    const bool forQuote = kind == ListKind::SubForQuote || kind == ListKind::UnSubForQuote;
    const bool add = kind == ListKind::SubMarket || kind == ListKind::SubForQuote;
    std::set<std::string>& set = forQuote ? forQuote_ : market_;
    for (int i = 0; i < count; ++i) {
        if (add)
            set.insert(ids[i]);
        else
            set.erase(ids[i]);
    }
}

void SessionMemory::ForgetSubscriptions()
{
    market_.clear();
    forQuote_.clear();
}

IdList::IdList(const std::set<std::string>& ids) : texts_(ids.begin(), ids.end())
{
    ptrs_.reserve(texts_.size());
    for (std::string& s : texts_)
        ptrs_.push_back(&s[0]);
}

} // namespace mdlink
