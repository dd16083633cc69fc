// Depth records loaded from a CSV file that mdcli recorded, grouped by
// instrument in file order, for replay in a loop.
#pragma once

#include "FrontConfig.h"
#include "MdApi.h"

#include <map>
#include <string>
#include <vector>

namespace mdfront {

class ReplayBook {
public:
    // Throws std::runtime_error when the file cannot be read or holds no record.
    explicit ReplayBook(const std::string& path);

    // The instruments of the file, in order of first appearance.
    const std::vector<InstrumentInfo>& Instruments() const { return instruments_; }

    // Records of one instrument; empty for an instrument not in the file.
    const std::vector<CThostFtdcDepthMarketDataField>& Records(const std::string& id) const;

private:
    std::vector<InstrumentInfo> instruments_;
    std::map<std::string, std::vector<CThostFtdcDepthMarketDataField>> records_;
};

} // namespace mdfront
