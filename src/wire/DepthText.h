// Decoding the text form of a depth-market-data record.
#pragma once

#include "MdApi.h"

#include <cstdint>

namespace mdlink {

// Fills record, which the caller has zeroed, from a body of length bytes. The
// body is text only under MarkerText and MarkerTextJoined; under any other
// marker it decodes as empty text. Members whose field is empty or missing
// stay zero; nothing is reported. The body is read where it lies: nothing
// is copied or allocated.
void DecodeDepthText(std::uint32_t marker, const char* body, std::uint32_t length,
                     CThostFtdcDepthMarketDataField& record);

} // namespace mdlink
