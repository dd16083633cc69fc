// What a record looks like on the bus, for the relay that writes it and the
// readers that read it back.
//
//   payload   the record's bytes exactly as include/MdApi.h lays them out
//             (408 for depth data, 88 for a for-quote notice)
//   headers   Nats-Msg-Id     derived from the content (RecordKey.h)
//             Mdlink-Record   five fields separated by single spaces:
//                             the format version ("1"), the record kind
//                             ("depth" or "forquote"), the relay's local
//                             receive time in ns since the epoch, the
//                             relay's own number for the record (from 1, in
//                             order of receipt: a gap is a dropped record),
//                             and the relay's name (the rest of the value)
//             e.g. "Mdlink-Record: 1 depth 1765262452123456789 42 relay-a"
// One header rather than five: the client library spends about a
// microsecond on each header of a message it builds, which would be the
// relay's largest cost per record.
#pragma once

#include "MdApi.h"

#include <cstddef>
#include <cstdint>

namespace mdrelay {

enum class RecordKind : std::uint8_t { Depth = 1, ForQuote = 2 };

// Readers skip records of a format they do not know.
constexpr int FormatVersion = 1;
constexpr const char* FormatText = "1";

constexpr const char* HeaderRecord = "Mdlink-Record";
constexpr const char* HeaderMsgId = "Nats-Msg-Id";

static_assert(sizeof(CThostFtdcDepthMarketDataField) == 408, "the published depth record");
static_assert(sizeof(CThostFtdcForQuoteRspField) == 88, "the published for-quote notice");
constexpr std::size_t MaxRecordSize = sizeof(CThostFtdcDepthMarketDataField);

const char* KindName(RecordKind kind);
std::size_t KindSize(RecordKind kind);

// The Mdlink-Record value, written into out (NUL-terminated, cut to fit);
// returns its length.
std::size_t RecordHeader(char* out, std::size_t capacity, RecordKind kind, std::int64_t recvNs,
                         std::uint64_t sequence, const char* relay);

// What a reader learns from a message's Mdlink-Record value (null when the
// message has none) and its payload size.
struct BusRecordInfo {
    RecordKind kind = RecordKind::Depth;
    std::int64_t recvNs = 0;
    std::uint64_t sequence = 0;
    const char* relay = ""; // points into the header value
};
enum class BusCheck { Ok, UnknownFormat, UnknownKind, WrongSize };
BusCheck CheckBusRecord(const char* header, std::size_t payloadSize, BusRecordInfo& out);

} // namespace mdrelay
