#include "SessionMemory.h"

namespace mdlink {

void SessionMemory::KeepLogin(const CThostFtdcReqUserLoginField* record, int requestId)
{
    hasLogin_ = true;
    loginHasRecord_ = record != nullptr;
    login_ = record ? *record : CThostFtdcReqUserLoginField();
    loginRequestId_ = requestId;
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
