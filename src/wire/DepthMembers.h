// The depth record's members, described once: kind, name, and the offset
// and width the published layout gives them, in their order. Everything
// that walks the record member by member is made from this list: the
// layout checks (RecordLayout.h), the redundant client's print
// (DepthPrint.h), the tools' CSV form and the Python binding's record type.
// Header-only over the published interface header, for the tools too.
#pragma once

#include "MdApi.h"

// Laid out by hand: a few members a line, in the record's order.
// clang-format off
// X(kind, name, offset, width), kind one of Text, Double, Int.
#define MDLINK_DEPTH_MEMBERS(X)                                                                 \
    X(Text, TradingDay, 0, 9) X(Text, InstrumentID, 9, 31) X(Text, ExchangeID, 40, 9)           \
    X(Text, ExchangeInstID, 49, 31) X(Double, LastPrice, 80, 8)                                 \
    X(Double, PreSettlementPrice, 88, 8) X(Double, PreClosePrice, 96, 8)                        \
    X(Double, PreOpenInterest, 104, 8) X(Double, OpenPrice, 112, 8)                             \
    X(Double, HighestPrice, 120, 8) X(Double, LowestPrice, 128, 8) X(Int, Volume, 136, 4)       \
    X(Double, Turnover, 144, 8) X(Double, OpenInterest, 152, 8) X(Double, ClosePrice, 160, 8)   \
    X(Double, SettlementPrice, 168, 8) X(Double, UpperLimitPrice, 176, 8)                       \
    X(Double, LowerLimitPrice, 184, 8) X(Double, PreDelta, 192, 8) X(Double, CurrDelta, 200, 8) \
    X(Text, UpdateTime, 208, 9) X(Int, UpdateMillisec, 220, 4)                                  \
    X(Double, BidPrice1, 224, 8) X(Int, BidVolume1, 232, 4)                                     \
    X(Double, AskPrice1, 240, 8) X(Int, AskVolume1, 248, 4)                                     \
    X(Double, BidPrice2, 256, 8) X(Int, BidVolume2, 264, 4)                                     \
    X(Double, AskPrice2, 272, 8) X(Int, AskVolume2, 280, 4)                                     \
    X(Double, BidPrice3, 288, 8) X(Int, BidVolume3, 296, 4)                                     \
    X(Double, AskPrice3, 304, 8) X(Int, AskVolume3, 312, 4)                                     \
    X(Double, BidPrice4, 320, 8) X(Int, BidVolume4, 328, 4)                                     \
    X(Double, AskPrice4, 336, 8) X(Int, AskVolume4, 344, 4)                                     \
    X(Double, BidPrice5, 352, 8) X(Int, BidVolume5, 360, 4)                                     \
    X(Double, AskPrice5, 368, 8) X(Int, AskVolume5, 376, 4)                                     \
    X(Double, AveragePrice, 384, 8) X(Text, ActionDay, 392, 9)
// clang-format on

namespace mdlink {

enum class MemberKind { Text, Double, Int };

// Plain unsigned numbers: the layout check compiles this header without a
// C++ library (as Visual C++ lays the records out).
struct RecordMember {
    const char* name;
    MemberKind kind;
    unsigned offset;
    unsigned width;
};

#define MDLINK_DEPTH_MEMBER_ENTRY(kind, name, offset, width) {#name, MemberKind::kind, offset, width},
inline constexpr RecordMember DepthMembers[] = {MDLINK_DEPTH_MEMBERS(MDLINK_DEPTH_MEMBER_ENTRY)};
#undef MDLINK_DEPTH_MEMBER_ENTRY

inline constexpr unsigned DepthMemberCount = sizeof DepthMembers / sizeof DepthMembers[0];

} // namespace mdlink
