// Where the text form of a depth record puts each member: fields separated
// by 0x01, by position, written once for the library's decoder and the
// simulator's encoder.
//
//   0 exchange  1 exchange's instrument id  2 instrument id (may be empty)
//   3..10 prices and volume   15..24 bid levels   35..44 ask levels
//   55 update time  56 pre-close  57 turnover  58 milliseconds
//   59..62 optional: open interest, trading day, average, settlement
//   11..14, 25..34, 45..54 and 63 on are not used.
// Header-only over the published interface header, for the tools too.
#pragma once

// Laid out by hand: a few members a line, in the record's order.
// clang-format off
// X(index, kind, member), kind one of Double, Int: the numeric members.
#define MDLINK_DEPTH_TEXT_NUMBERS(X)                                                                  \
    X(3, Double, LastPrice) X(4, Double, OpenPrice) X(5, Double, HighestPrice)                        \
    X(6, Double, LowestPrice) X(7, Double, UpperLimitPrice) X(8, Double, LowerLimitPrice)             \
    X(9, Double, PreSettlementPrice) X(10, Int, Volume)                                               \
    X(15, Double, BidPrice1) X(16, Int, BidVolume1) X(17, Double, BidPrice2) X(18, Int, BidVolume2)   \
    X(19, Double, BidPrice3) X(20, Int, BidVolume3) X(21, Double, BidPrice4) X(22, Int, BidVolume4)   \
    X(23, Double, BidPrice5) X(24, Int, BidVolume5)                                                   \
    X(35, Double, AskPrice1) X(36, Int, AskVolume1) X(37, Double, AskPrice2) X(38, Int, AskVolume2)   \
    X(39, Double, AskPrice3) X(40, Int, AskVolume3) X(41, Double, AskPrice4) X(42, Int, AskVolume4)   \
    X(43, Double, AskPrice5) X(44, Int, AskVolume5)                                                   \
    X(56, Double, PreClosePrice) X(57, Double, Turnover) X(58, Int, UpdateMillisec)                   \
    X(59, Double, OpenInterest) X(61, Double, AveragePrice) X(62, Double, SettlementPrice)
// clang-format on

namespace mdlink {

// The text members (the instrument id is formed from fields 0 to 2).
constexpr int TextFieldExchange = 0;
constexpr int TextFieldExchangeInst = 1;
constexpr int TextFieldInstrument = 2;
constexpr int TextFieldUpdateTime = 55;
constexpr int TextFieldTradingDay = 60;
// Fields 0..58 are always there; 59..62 are optional; later ones are not read.
constexpr int TextFieldsAlways = 59;
constexpr int TextFieldsRead = 63;

} // namespace mdlink
