#include "ReplayBook.h"

#include "DepthCsv.h"
#include "FrameBuilder.h"

#include <stdexcept>

namespace mdfront {

ReplayBook::ReplayBook(const std::string& path)
{
    std::vector<mdtools::CsvDepthRow> rows;
    std::string error;
    if (!mdtools::ReadDepthCsv(path, rows, error))
        throw std::runtime_error(error);
    for (const mdtools::CsvDepthRow& row : rows) {
        const std::string id = MemberText(row.depth.InstrumentID, sizeof row.depth.InstrumentID);
        auto& list = records_[id];
        if (list.empty())
            instruments_.push_back({id, MemberText(row.depth.ExchangeID, sizeof row.depth.ExchangeID)});
        list.push_back(row.depth);
    }
    if (instruments_.empty())
        throw std::runtime_error(path + ": no depth record to replay");
}

const std::vector<CThostFtdcDepthMarketDataField>& ReplayBook::Records(const std::string& id) const
{
    static const std::vector<CThostFtdcDepthMarketDataField> none;
    auto it = records_.find(id);
    return it == records_.end() ? none : it->second;
}

} // namespace mdfront
