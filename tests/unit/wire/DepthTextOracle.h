// The text depth-record decoding as first written on the base library's
// string and field array, kept as the reference that the client's in-place
// decoder must match byte for byte (unit tests and the decoder's fuzz target).
#pragma once

#include "KelvoBase.h"
#include "MdApi.h"
#include "wire/FrameHeader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace test {

// The body copied into a Kelvo_String, split into a Kelvo_StringArray, each
// field converted by the string.
inline std::string FieldText(const Kelvo_StringArray& fields, int i)
{
    return std::string(fields[i].c_str(), static_cast<std::size_t>(fields[i].length()));
}

template <std::size_t N>
void OracleCopy(char (&member)[N], const std::string& text)
{
    std::memcpy(member, text.data(), std::min(text.size(), N - 1));
}

inline bool OracleStartsWithNoCase(const std::string& text, const std::string& prefix)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lower(text[i]) != lower(prefix[i]))
            return false;
    return true;
}

inline CThostFtdcDepthMarketDataField OracleDecode(std::uint32_t marker, const std::string& body,
                                                   std::uint32_t length)
{
    Kelvo_String text;
    if (marker == mdlink::MarkerText || marker == mdlink::MarkerTextJoined)
        text.strncpy(body.data(), static_cast<int>(length));
    Kelvo_StringArray fields;
    fields.Split(text.c_str(), '\x01', 0);
    using Record = CThostFtdcDepthMarketDataField;
    Record r;
    std::memset(&r, 0, sizeof r);
    const std::string f0 = FieldText(fields, 0), f1 = FieldText(fields, 1), f2 = FieldText(fields, 2);
    if (marker == mdlink::MarkerTextJoined)
        OracleCopy(r.InstrumentID, f0 + " " + f1 + " " + f2);
    else if (!f2.empty())
        OracleCopy(r.InstrumentID, f2);
    else if (f0.empty() || OracleStartsWithNoCase(f1, f0))
        OracleCopy(r.InstrumentID, f1);
    else
        OracleCopy(r.InstrumentID, f0 + " " + f1);
    OracleCopy(r.ExchangeID, f0);
    OracleCopy(r.ExchangeInstID, f1);
    const std::pair<int, double Record::*> prices[] = {
        {3, &Record::LastPrice},          {4, &Record::OpenPrice},       {5, &Record::HighestPrice},
        {6, &Record::LowestPrice},        {7, &Record::UpperLimitPrice}, {8, &Record::LowerLimitPrice},
        {9, &Record::PreSettlementPrice}, {15, &Record::BidPrice1},      {17, &Record::BidPrice2},
        {19, &Record::BidPrice3},         {21, &Record::BidPrice4},      {23, &Record::BidPrice5},
        {35, &Record::AskPrice1},         {37, &Record::AskPrice2},      {39, &Record::AskPrice3},
        {41, &Record::AskPrice4},         {43, &Record::AskPrice5},      {56, &Record::PreClosePrice},
        {57, &Record::Turnover}};
    for (const auto& p : prices)
        if (fields[p.first].length() > 0)
            r.*p.second = fields[p.first].ToFloat();
    const std::pair<int, int Record::*> volumes[] = {
        {10, &Record::Volume},     {16, &Record::BidVolume1}, {18, &Record::BidVolume2},
        {20, &Record::BidVolume3}, {22, &Record::BidVolume4}, {24, &Record::BidVolume5},
        {36, &Record::AskVolume1}, {38, &Record::AskVolume2}, {40, &Record::AskVolume3},
        {42, &Record::AskVolume4}, {44, &Record::AskVolume5}, {58, &Record::UpdateMillisec}};
    for (const auto& v : volumes)
        if (fields[v.first].length() > 0)
            r.*v.second = fields[v.first].ToInt(10);
    OracleCopy(r.UpdateTime, FieldText(fields, 55));
    const int count = fields.GetSize();
    if (count > 59 && fields[59].length() > 0)
        r.OpenInterest = fields[59].ToFloat();
    if (count > 60 && fields[60].length() > 0)
        OracleCopy(r.TradingDay, FieldText(fields, 60));
    if (count > 61 && fields[61].length() > 0)
        r.AveragePrice = fields[61].ToFloat();
    if (count > 62 && fields[62].length() > 0)
        r.SettlementPrice = fields[62].ToFloat();
    return r;
}

} // namespace test
