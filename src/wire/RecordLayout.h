// The record layouts the wire relies on, checked at compile time, and the
// helpers that keep text members of received records terminated.
#pragma once

#include "DepthMembers.h"
#include "MdApi.h"

#include <cstddef>

#define MDLINK_CHECK_AT(Record, Member, Offset, Width)                                                       \
    static_assert(offsetof(Record, Member) == (Offset), #Record "::" #Member " offset");                     \
    static_assert(sizeof(Record::Member) == (Width), #Record "::" #Member " width")

static_assert(sizeof(CThostFtdcReqUserLoginField) == 228, "login request size");
static_assert(sizeof(CThostFtdcRspUserLoginField) == 156, "login response size");
static_assert(sizeof(CThostFtdcRspInfoField) == 88, "response information size");
static_assert(sizeof(CThostFtdcSpecificInstrumentField) == 31, "instrument record size");
static_assert(sizeof(CThostFtdcDepthMarketDataField) == 408, "depth record size");
static_assert(sizeof(CThostFtdcForQuoteRspField) == 88, "for-quote notice size");

MDLINK_CHECK_AT(CThostFtdcRspInfoField, ErrorID, 0, 4);
MDLINK_CHECK_AT(CThostFtdcRspInfoField, ErrorMsg, 4, 81);
MDLINK_CHECK_AT(CThostFtdcSpecificInstrumentField, InstrumentID, 0, 31);

MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, TradingDay, 0, 9);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, LoginTime, 9, 9);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, BrokerID, 18, 11);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, UserID, 29, 16);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, SystemName, 45, 41);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, FrontID, 88, 4);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, SessionID, 92, 4);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, MaxOrderRef, 96, 13);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, SHFETime, 109, 9);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, DCETime, 118, 9);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, CZCETime, 127, 9);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, FFEXTime, 136, 9);
MDLINK_CHECK_AT(CThostFtdcRspUserLoginField, INETime, 145, 9);

MDLINK_CHECK_AT(CThostFtdcForQuoteRspField, TradingDay, 0, 9);
MDLINK_CHECK_AT(CThostFtdcForQuoteRspField, InstrumentID, 9, 31);
MDLINK_CHECK_AT(CThostFtdcForQuoteRspField, ForQuoteSysID, 40, 21);
MDLINK_CHECK_AT(CThostFtdcForQuoteRspField, ForQuoteTime, 61, 9);
MDLINK_CHECK_AT(CThostFtdcForQuoteRspField, ActionDay, 70, 9);
MDLINK_CHECK_AT(CThostFtdcForQuoteRspField, ExchangeID, 79, 9);

// The depth record's members from their one list (DepthMembers.h).
#define MDLINK_CHECK_DEPTH(kind, name, offset, width)                                                        \
    MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, name, offset, width);
MDLINK_DEPTH_MEMBERS(MDLINK_CHECK_DEPTH)
#undef MDLINK_CHECK_DEPTH
static_assert(mdlink::DepthMembers[mdlink::DepthMemberCount - 1].offset +
                      mdlink::DepthMembers[mdlink::DepthMemberCount - 1].width <=
                  sizeof(CThostFtdcDepthMarketDataField),
              "the list reaches no further than the record");

#undef MDLINK_CHECK_AT

namespace mdlink {

// Byte offset of a member's last byte: where its terminating zero must be.
#define MDLINK_LAST_BYTE(Record, Member) (offsetof(Record, Member) + sizeof(Record::Member) - 1)

// Fronts are meant to terminate every text member; these make sure a bad one
// cannot send an application's strlen past a member.
inline void TerminateInstrumentText(char* body)
{
    body[MDLINK_LAST_BYTE(CThostFtdcSpecificInstrumentField, InstrumentID)] = 0;
}

inline void TerminateRspInfoText(char* info)
{
    info[MDLINK_LAST_BYTE(CThostFtdcRspInfoField, ErrorMsg)] = 0;
}

template <MemberKind Kind>
inline void TerminateIfText(char* body, unsigned last)
{
    if constexpr (Kind == MemberKind::Text)
        body[last] = 0;
}

inline void TerminateDepthTexts(char* body)
{
    // Every text member's last byte, chosen at compile time.
#define MDLINK_TERMINATE_TEXT(kind, name, offset, width)                                                     \
    TerminateIfText<MemberKind::kind>(body, (offset) + (width)-1);
    MDLINK_DEPTH_MEMBERS(MDLINK_TERMINATE_TEXT)
#undef MDLINK_TERMINATE_TEXT
}

inline void TerminateForQuoteTexts(char* body)
{
    body[MDLINK_LAST_BYTE(CThostFtdcForQuoteRspField, TradingDay)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcForQuoteRspField, InstrumentID)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcForQuoteRspField, ForQuoteSysID)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcForQuoteRspField, ForQuoteTime)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcForQuoteRspField, ActionDay)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcForQuoteRspField, ExchangeID)] = 0;
}

} // namespace mdlink
