#include "BusFormat.h"

#include <cstdlib>
#include <cstring>

namespace mdrelay {

const char* KindName(RecordKind kind)
{
    return kind == RecordKind::Depth ? "depth" : "forquote";
}

std::size_t KindSize(RecordKind kind)
{
    return kind == RecordKind::Depth ? sizeof(CThostFtdcDepthMarketDataField)
                                     : sizeof(CThostFtdcForQuoteRspField);
}

BusCheck CheckBusRecord(const char* kind, const char* format, const char* recvNs,
                        const char* sequence, std::size_t payloadSize, BusRecordInfo& out)
{
    if (!format || std::strcmp(format, FormatText) != 0)
        return BusCheck::UnknownFormat;
    if (kind && std::strcmp(kind, "depth") == 0)
        out.kind = RecordKind::Depth;
    else if (kind && std::strcmp(kind, "forquote") == 0)
        out.kind = RecordKind::ForQuote;
    else
        return BusCheck::UnknownKind;
    if (payloadSize != KindSize(out.kind))
        return BusCheck::WrongSize;
    out.recvNs = recvNs ? std::strtoll(recvNs, nullptr, 10) : 0;
    out.sequence = sequence ? std::strtoull(sequence, nullptr, 10) : 0;
    return BusCheck::Ok;
}

} // namespace mdrelay
