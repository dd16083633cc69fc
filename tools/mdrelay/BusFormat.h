// What a record looks like on the bus, for the relay that writes it and the
// readers that read it back.
//
//   payload   the record's bytes exactly as include/MdApi.h lays them out
//             (408 for depth data, 88 for a for-quote notice)
//   headers   Mdlink-Kind     "depth" or "forquote"
//             Mdlink-Format   the format version, "1"
//             Mdlink-Recv-Ns  the relay's local receive time, ns since the epoch
//             Mdlink-Relay    the relay's name
//             Mdlink-Seq      the relay's own number for the record (from 1,
//                             in order of receipt; a gap is a dropped record)
//             Nats-Msg-Id     derived from the content (RecordKey.h)
#pragma once

#include "MdApi.h"

#include <cstddef>
#include <cstdint>

namespace mdrelay {

enum class RecordKind : std::uint8_t { Depth = 1, ForQuote = 2 };

// Readers skip records of a format they do not know.
constexpr int FormatVersion = 1;
constexpr const char* FormatText = "1";

constexpr const char* HeaderKind = "Mdlink-Kind";
constexpr const char* HeaderFormat = "Mdlink-Format";
constexpr const char* HeaderRecvNs = "Mdlink-Recv-Ns";
constexpr const char* HeaderRelay = "Mdlink-Relay";
constexpr const char* HeaderSeq = "Mdlink-Seq";
constexpr const char* HeaderMsgId = "Nats-Msg-Id";

static_assert(sizeof(CThostFtdcDepthMarketDataField) == 408, "the published depth record");
static_assert(sizeof(CThostFtdcForQuoteRspField) == 88, "the published for-quote notice");
constexpr std::size_t MaxRecordSize = sizeof(CThostFtdcDepthMarketDataField);

const char* KindName(RecordKind kind);
std::size_t KindSize(RecordKind kind);

// What a reader learns from a message's headers and payload size. A header
// value is null when the message lacks it.
struct BusRecordInfo {
    RecordKind kind = RecordKind::Depth;
    std::int64_t recvNs = 0;
    std::uint64_t sequence = 0;
};
enum class BusCheck { Ok, UnknownFormat, UnknownKind, WrongSize };
BusCheck CheckBusRecord(const char* kind, const char* format, const char* recvNs,
                        const char* sequence, std::size_t payloadSize, BusRecordInfo& out);

} // namespace mdrelay
