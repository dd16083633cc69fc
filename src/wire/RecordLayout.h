// The record layouts the wire relies on, checked at compile time, and the
// helpers that keep text members of received records terminated.
#pragma once

#include "MdApi.h"

#include <cstddef>

#define MDLINK_CHECK_AT(Record, Member, Offset, Width)                                     \
    static_assert(offsetof(Record, Member) == (Offset), #Record "::" #Member " offset");   \
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

MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, TradingDay, 0, 9);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, InstrumentID, 9, 31);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, ExchangeID, 40, 9);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, ExchangeInstID, 49, 31);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, LastPrice, 80, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, PreSettlementPrice, 88, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, PreClosePrice, 96, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, PreOpenInterest, 104, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, OpenPrice, 112, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, HighestPrice, 120, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, LowestPrice, 128, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, Volume, 136, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, Turnover, 144, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, OpenInterest, 152, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, ClosePrice, 160, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, SettlementPrice, 168, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, UpperLimitPrice, 176, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, LowerLimitPrice, 184, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, PreDelta, 192, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, CurrDelta, 200, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, UpdateTime, 208, 9);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, UpdateMillisec, 220, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidPrice1, 224, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidVolume1, 232, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskPrice1, 240, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskVolume1, 248, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidPrice2, 256, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidVolume2, 264, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskPrice2, 272, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskVolume2, 280, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidPrice3, 288, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidVolume3, 296, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskPrice3, 304, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskVolume3, 312, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidPrice4, 320, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidVolume4, 328, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskPrice4, 336, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskVolume4, 344, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidPrice5, 352, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, BidVolume5, 360, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskPrice5, 368, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AskVolume5, 376, 4);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, AveragePrice, 384, 8);
MDLINK_CHECK_AT(CThostFtdcDepthMarketDataField, ActionDay, 392, 9);

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

inline void TerminateDepthTexts(char* body)
{
    body[MDLINK_LAST_BYTE(CThostFtdcDepthMarketDataField, TradingDay)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcDepthMarketDataField, InstrumentID)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcDepthMarketDataField, ExchangeID)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcDepthMarketDataField, ExchangeInstID)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcDepthMarketDataField, UpdateTime)] = 0;
    body[MDLINK_LAST_BYTE(CThostFtdcDepthMarketDataField, ActionDay)] = 0;
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
