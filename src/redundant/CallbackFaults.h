// Exceptions out of the application's callbacks, as the redundant client
// calls them: contained and told the way the single client does
// (log/SpiFaultRecords.h). The client goes on as if the callback had
// returned: nothing unwinds through its arbitration or its bookkeeping, and
// no record waiting behind the one that threw is lost.
#pragma once

#include "log/SpiFaultRecords.h"

namespace mdlink {

class CRedundantMdClient;

class CallbackFaults : public SpiFaultRecords<CRedundantMdClient> {
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
    static_assert(Count == SpiCallbackCount, "numbered as the records name them");

    using SpiFaultRecords::SpiFaultRecords;
};

} // namespace mdlink
