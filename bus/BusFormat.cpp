#include "BusFormat.h"

#include <algorithm>
#include <cstdio>
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

std::size_t RecordHeader(char* out, std::size_t capacity, RecordKind kind, std::int64_t recvNs,
                         std::uint64_t sequence, const char* relay)
{
    const int n =
        std::snprintf(out, capacity, "%s %s %lld %llu %s", FormatText, KindName(kind),
                      static_cast<long long>(recvNs), static_cast<unsigned long long>(sequence), relay);
    return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), capacity - 1);
}

BusCheck CheckBusRecord(const char* header, std::size_t payloadSize, BusRecordInfo& out)
{
    // "<format> <kind> <recv-ns> <sequence> <relay>"
    const std::size_t formatLength = std::strlen(FormatText);
    if (!header || std::strncmp(header, FormatText, formatLength) != 0 || header[formatLength] != ' ')
        return BusCheck::UnknownFormat;
    const char* kind = header + formatLength + 1;
    if (std::strncmp(kind, "depth ", 6) == 0)
        out.kind = RecordKind::Depth;
    else if (std::strncmp(kind, "forquote ", 9) == 0)
        out.kind = RecordKind::ForQuote;
    else
        return BusCheck::UnknownKind;
    if (payloadSize != KindSize(out.kind))
        return BusCheck::WrongSize;
    char* end = nullptr;
    out.recvNs = std::strtoll(std::strchr(kind, ' ') + 1, &end, 10);
    out.sequence = std::strtoull(end, &end, 10);
    out.relay = *end == ' ' ? end + 1 : end;
    return BusCheck::Ok;
}

} // namespace mdrelay
