// Arbitrary text bodies through the depth-record decoder, which must decode
// them exactly as the string and field-array decoding does.
#include "DepthTextOracle.h"
#include "wire/DepthText.h"
#include "wire/FrameHeader.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint32_t marker = data[0] & 1 ? mdlink::MarkerTextJoined : mdlink::MarkerText;
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::uint32_t length = static_cast<std::uint32_t>(body.size());
    CThostFtdcDepthMarketDataField record;
    std::memset(&record, 0, sizeof record);
    mdlink::DecodeDepthText(marker, body.data(), length, record);
    // Every text member must be terminated within its width.
    if (std::memchr(record.InstrumentID, 0, sizeof record.InstrumentID) == nullptr ||
        std::memchr(record.ExchangeID, 0, sizeof record.ExchangeID) == nullptr ||
        std::memchr(record.ExchangeInstID, 0, sizeof record.ExchangeInstID) == nullptr ||
        std::memchr(record.UpdateTime, 0, sizeof record.UpdateTime) == nullptr ||
        std::memchr(record.TradingDay, 0, sizeof record.TradingDay) == nullptr)
        __builtin_trap();
    const CThostFtdcDepthMarketDataField expected = test::OracleDecode(marker, body, length);
    if (std::memcmp(&record, &expected, sizeof record) != 0)
        __builtin_trap();
    return 0;
}
