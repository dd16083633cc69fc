// What the redundant client remembers of the application's session, to log
// in and subscribe links that come up later: the last login record sent
// (the single client keeps nothing), and the instruments subscribed minus
// those unsubscribed, for depth data and for for-quote notices.
//
// Not thread-safe: the redundant client uses it under its session lock.
#pragma once

#include "MdApi.h"
#include "ResponseMerge.h"

#include <set>
#include <string>
#include <vector>

namespace mdlink {

class SessionMemory {
public:
    // record may be null: the login then goes out without one, as asked.
    void KeepLogin(const CThostFtdcReqUserLoginField* record, int requestId);
    bool HasLogin() const { return hasLogin_; }
    // Null for a login without a record.
    CThostFtdcReqUserLoginField* Login() { return loginHasRecord_ ? &login_ : nullptr; }
    int LoginRequestId() const { return loginRequestId_; }
    // The copy (its password too) overwritten, at Release.
    void ForgetLogin();

    // Subscriptions add their ids, unsubscriptions remove them: only those
    // that went out on a link.
    void Apply(ListKind kind, char* ids[], int count);
    bool Empty() const { return market_.empty() && forQuote_.empty(); }
    const std::set<std::string>& Market() const { return market_; }
    const std::set<std::string>& ForQuote() const { return forQuote_; }
    void ForgetSubscriptions();

private:
    bool hasLogin_ = false;
    bool loginHasRecord_ = false;
    CThostFtdcReqUserLoginField login_{};
    int loginRequestId_ = 0;
    std::set<std::string> market_;
    std::set<std::string> forQuote_;
};

// Mutable texts for the request calls, which take char*[].
class IdList {
public:
    explicit IdList(const std::set<std::string>& ids);
    char** Ids() { return ptrs_.data(); }
    int Count() const { return static_cast<int>(ptrs_.size()); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> ptrs_;
};

} // namespace mdlink
