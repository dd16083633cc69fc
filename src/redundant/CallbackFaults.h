// Exceptions out of the application's callbacks, as the redundant client
// calls them: contained and told, the way the single client does. Each is
// counted in an err record naming the callback:
//   <callback> threw: <what> (<N> since the last record)
// per callback the first few one by one, then at most one a second; Flush
// (at Release) writes what is still counted. The client goes on as if the
// callback had returned: nothing unwinds through its arbitration or its
// bookkeeping, and no record waiting behind the one that threw is lost.
#pragma once

#include <cstdint>

namespace mdlink {

class CRedundantMdClient;

class CallbackFaults {
public:
    enum Callback {
        FrontConnected,
        FrontDisconnected,
        RspUserLogin,
        RspSubMarketData,
        RspUnSubMarketData,
        RspSubForQuoteRsp,
        RspUnSubForQuoteRsp,
        RtnDepthMarketData,
        RtnForQuoteRsp,
        Count
    };

    explicit CallbackFaults(CRedundantMdClient& log) : log_(log) {}

    void Threw(Callback which, const char* what);
    void Flush();

private:
    struct Fault {
        std::uint32_t written = 0;
        std::uint32_t pending = 0; // not yet in a record
        unsigned int lastRecordMs = 0;
        char what[128] = {};
    };

    void Write(Callback which);

    CRedundantMdClient& log_;
    Fault faults_[Count];
};

} // namespace mdlink
