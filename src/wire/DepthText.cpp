// The text form of a depth record: fields separated by 0x01, by position.
//
//   0 exchange  1 exchange's instrument id  2 instrument id (may be empty)
//   3..10 prices and volume   15..24 bid levels   35..44 ask levels
//   55 update time  56 pre-close  57 turnover  58 milliseconds
//   59..62 optional: open interest, trading day, average, settlement
//   11..14, 25..34, 45..54 and 63 on are not used.
#include "wire/DepthText.h"

#include "KelvoBase.h"
#include "wire/FrameHeader.h"

#include <cstddef>
#include <cstring>

namespace mdlink {

namespace {

using Record = CThostFtdcDepthMarketDataField;

struct PriceField {
    int index;
    double Record::*member;
};

struct VolumeField {
    int index;
    int Record::*member;
};

const PriceField Prices[] = {
    {3, &Record::LastPrice},         {4, &Record::OpenPrice},          {5, &Record::HighestPrice},
    {6, &Record::LowestPrice},       {7, &Record::UpperLimitPrice},    {8, &Record::LowerLimitPrice},
    {9, &Record::PreSettlementPrice}, {15, &Record::BidPrice1},        {17, &Record::BidPrice2},
    {19, &Record::BidPrice3},        {21, &Record::BidPrice4},         {23, &Record::BidPrice5},
    {35, &Record::AskPrice1},        {37, &Record::AskPrice2},         {39, &Record::AskPrice3},
    {41, &Record::AskPrice4},        {43, &Record::AskPrice5},         {56, &Record::PreClosePrice},
    {57, &Record::Turnover},
};

const VolumeField Volumes[] = {
    {10, &Record::Volume},     {16, &Record::BidVolume1}, {18, &Record::BidVolume2},
    {20, &Record::BidVolume3}, {22, &Record::BidVolume4}, {24, &Record::BidVolume5},
    {36, &Record::AskVolume1}, {38, &Record::AskVolume2}, {40, &Record::AskVolume3},
    {42, &Record::AskVolume4}, {44, &Record::AskVolume5}, {58, &Record::UpdateMillisec},
};

// Appends to a text member, keeping its last byte for the terminator.
template <std::size_t N>
class MemberText {
public:
    explicit MemberText(char (&member)[N]) : m_member(member) {}
    MemberText& Add(const char* text, std::size_t n)
    {
        const std::size_t room = N - 1 - m_used;
        if (n > room)
            n = room;
        std::memcpy(m_member + m_used, text, n);
        m_used += n;
        return *this;
    }
    MemberText& Add(const Kelvo_String& s) { return Add(s.c_str(), static_cast<std::size_t>(s.length())); }

private:
    char* m_member;
    std::size_t m_used = 0;
};

template <std::size_t N>
void CopyText(char (&member)[N], const Kelvo_String& text)
{
    MemberText<N>(member).Add(text);
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Does text begin with prefix, ignoring the case of ASCII letters?
bool StartsWithNoCase(const Kelvo_String& text, const Kelvo_String& prefix)
{
    if (text.length() < prefix.length())
        return false;
    for (int i = 0; i < prefix.length(); ++i)
        if (Lower(text.c_str()[i]) != Lower(prefix.c_str()[i]))
            return false;
    return true;
}

void FormInstrumentID(std::uint32_t marker, const Kelvo_StringArray& fields, Record& record)
{
    const Kelvo_String& exchange = fields[0];
    const Kelvo_String& exchangeInst = fields[1];
    const Kelvo_String& instrument = fields[2];
    MemberText<sizeof record.InstrumentID> id(record.InstrumentID);
    if (marker == MarkerTextJoined)
        id.Add(exchange).Add(" ", 1).Add(exchangeInst).Add(" ", 1).Add(instrument);
    else if (instrument.length() > 0)
        id.Add(instrument);
    else if (exchange.length() == 0 || StartsWithNoCase(exchangeInst, exchange))
        id.Add(exchangeInst);
    else
        id.Add(exchange).Add(" ", 1).Add(exchangeInst);
}

void FillNumbers(const Kelvo_StringArray& fields, Record& record)
{
    for (const PriceField& f : Prices) {
        const Kelvo_String& text = fields[f.index];
        if (text.length() > 0)
            record.*f.member = text.ToFloat();
    }
    for (const VolumeField& f : Volumes) {
        const Kelvo_String& text = fields[f.index];
        if (text.length() > 0)
            record.*f.member = text.ToInt(10);
    }
}

// Fields 59 to 62 count only when the record has them.
void FillOptional(const Kelvo_StringArray& fields, Record& record)
{
    const int count = fields.GetSize();
    if (count > 59 && fields[59].length() > 0)
        record.OpenInterest = fields[59].ToFloat();
    if (count > 60 && fields[60].length() > 0)
        CopyText(record.TradingDay, fields[60]);
    if (count > 61 && fields[61].length() > 0)
        record.AveragePrice = fields[61].ToFloat();
    if (count > 62 && fields[62].length() > 0)
        record.SettlementPrice = fields[62].ToFloat();
}

} // namespace

void DecodeDepthText(std::uint32_t marker, const char* body, std::uint32_t length, Record& record)
{
    Kelvo_String text;
    if (marker == MarkerText || marker == MarkerTextJoined)
        text.strncpy(body, static_cast<int>(length));
    Kelvo_StringArray fields;
    fields.Split(text.c_str(), '\x01', 0);

    FormInstrumentID(marker, fields, record);
    CopyText(record.ExchangeID, fields[0]);
    CopyText(record.ExchangeInstID, fields[1]);
    FillNumbers(fields, record);
    CopyText(record.UpdateTime, fields[55]);
    FillOptional(fields, record);
}

} // namespace mdlink
