// The CSV form of depth records that mdcli writes and mdfront replays: a
// header row, then one row per record: the local receive time in
// microseconds since the epoch, then every member of the record in its
// declaration order, named as the member.
#pragma once

#include "MdApi.h"

#include <string>
#include <vector>

namespace mdtools {

struct CsvDepthRow {
    long long recv_time_us = 0;
    CThostFtdcDepthMarketDataField depth{};
};

// The header row, without a line end.
std::string DepthCsvHeader();

// One data row, without a line end.
std::string DepthCsvRow(long long recv_time_us, const CThostFtdcDepthMarketDataField& depth);

// Reads a recorded file. Columns are found by their header names, so files
// with extra or reordered columns still load; members whose column is
// missing stay zero. Returns false with a message on a malformed file.
bool ReadDepthCsv(const std::string& path, std::vector<CsvDepthRow>& rows, std::string& error);

// Splits one CSV line into cells, undoing the quoting of DepthCsvRow.
std::vector<std::string> SplitCsvLine(const std::string& line);

} // namespace mdtools
