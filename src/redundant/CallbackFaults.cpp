#include "CallbackFaults.h"

#include "RedundantClient.h"

#include <cstdio>

namespace mdlink {

namespace {

const char* const Names[CallbackFaults::Count] = {
    "OnFrontConnected",   "OnFrontDisconnected",   "OnRspUserLogin",
    "OnRspSubMarketData", "OnRspUnSubMarketData",  "OnRspSubForQuoteRsp",
    "OnRspUnSubForQuoteRsp", "OnRtnDepthMarketData", "OnRtnForQuoteRsp",
};

constexpr std::uint32_t RecordsAtOnce = 5;
constexpr unsigned int RecordIntervalMs = 1000;

} // namespace

void CallbackFaults::Threw(Callback which, const char* what)
{
    Fault& f = faults_[which];
    f.pending += 1;
    std::snprintf(f.what, sizeof f.what, "%s", what ? what : "unknown exception");
    const unsigned int now = Kelvo_THREAD_GetTickCount();
    if (f.written >= RecordsAtOnce && now - f.lastRecordMs < RecordIntervalMs)
        return;
    Write(which);
    f.lastRecordMs = now;
}

void CallbackFaults::Write(Callback which)
{
    Fault& f = faults_[which];
    log_.WriteLog(1, "Callback", "%s threw: %s (%u since the last record)", Names[which], f.what,
                  f.pending);
    f.pending = 0;
    f.written += 1;
}

void CallbackFaults::Flush()
{
    for (int which = 0; which < Count; ++which)
        if (faults_[which].pending != 0)
            Write(static_cast<Callback>(which));
}

} // namespace mdlink
