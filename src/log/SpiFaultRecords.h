// Exceptions out of the application's callbacks: contained, and told, the
// same way by the single client (api/MdClient.h) and the redundant one
// (redundant/CallbackFaults.h).
//
// An exception escaping a CThostFtdcMdSpi callback is caught where the client
// made the call; the client carries on as if the callback had returned. Each
// one is counted in an err record naming the callback:
//   <callback> threw: <what> (<N> since the last record)
// Per callback, the first few are written one by one, then at most one a
// second, so that an application that throws on every record cannot make the
// log its bottleneck; Flush (at the client's end) writes what is still
// counted. The sum of N over the records is the number of exceptions.
#pragma once

#include "KelvoBase.h"
#include "log/LogRecord.h"

#include <cstdint>
#include <cstdio>

namespace mdlink {

// The callbacks, numbered as both clients number them.
constexpr int SpiCallbackCount = 9;

// Log: a client with WriteLog(level, tag, format, ...).
template <class Log>
class SpiFaultRecords {
public:
    explicit SpiFaultRecords(Log& log) : log_(log) {}

    void Threw(int which, const char* what)
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

    void Flush()
    {
        for (int which = 0; which < SpiCallbackCount; ++which)
            if (faults_[which].pending != 0)
                Write(which);
    }

private:
    static constexpr std::uint32_t RecordsAtOnce = 5;
    static constexpr unsigned int RecordIntervalMs = 1000;

    struct Fault {
        std::uint32_t written = 0;
        std::uint32_t pending = 0; // not yet in a record
        unsigned int lastRecordMs = 0;
        char what[128] = {};
    };

    void Write(int which)
    {
        static const char* const names[SpiCallbackCount] = {
            "OnFrontConnected",      "OnFrontDisconnected",  "OnRspUserLogin",
            "OnRspSubMarketData",    "OnRspUnSubMarketData", "OnRspSubForQuoteRsp",
            "OnRspUnSubForQuoteRsp", "OnRtnDepthMarketData", "OnRtnForQuoteRsp",
        };
        Fault& f = faults_[which];
        log_.WriteLog(LogError, "Callback", "%s threw: %s (%u since the last record)", names[which], f.what,
                      f.pending);
        f.pending = 0;
        f.written += 1;
    }

    Log& log_;
    Fault faults_[SpiCallbackCount];
};

} // namespace mdlink
