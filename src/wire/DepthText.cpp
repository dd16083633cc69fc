// The text form of a depth record: fields separated by 0x01, by position.
//
//   0 exchange  1 exchange's instrument id  2 instrument id (may be empty)
//   3..10 prices and volume   15..24 bid levels   35..44 ask levels
//   55 update time  56 pre-close  57 turnover  58 milliseconds
//   59..62 optional: open interest, trading day, average, settlement
//   11..14, 25..34, 45..54 and 63 on are not used.
#include "wire/DepthText.h"

#include "ByteScan.h"
#include "NumberText.h"
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

// One field: a range of the body, not terminated.
struct Field {
    const char* text;
    std::size_t length;
};

// Fields 0 to 62 are read; later ones are not.
constexpr int ReadFields = 63;

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
    MemberText& Add(const Field& f) { return Add(f.text, f.length); }

private:
    char* m_member;
    std::size_t m_used = 0;
};

template <std::size_t N>
void CopyText(char (&member)[N], const Field& field)
{
    MemberText<N>(member).Add(field);
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Does text begin with prefix, ignoring the case of ASCII letters?
bool StartsWithNoCase(const Field& text, const Field& prefix)
{
    if (text.length < prefix.length)
        return false;
    for (std::size_t i = 0; i < prefix.length; ++i)
        if (Lower(text.text[i]) != Lower(prefix.text[i]))
            return false;
    return true;
}

void FormInstrumentID(std::uint32_t marker, const Field* fields, Record& record)
{
    const Field& exchange = fields[0];
    const Field& exchangeInst = fields[1];
    const Field& instrument = fields[2];
    MemberText<sizeof record.InstrumentID> id(record.InstrumentID);
    if (marker == MarkerTextJoined)
        id.Add(exchange).Add(" ", 1).Add(exchangeInst).Add(" ", 1).Add(instrument);
    else if (instrument.length > 0)
        id.Add(instrument);
    else if (exchange.length == 0 || StartsWithNoCase(exchangeInst, exchange))
        id.Add(exchangeInst);
    else
        id.Add(exchange).Add(" ", 1).Add(exchangeInst);
}

double Float(const Field& f)
{
    return kelvo::TextToFloat(f.text, f.text + f.length);
}

void FillNumbers(const Field* fields, Record& record)
{
    for (const PriceField& f : Prices) {
        const Field& field = fields[f.index];
        if (field.length > 0)
            record.*f.member = Float(field);
    }
    for (const VolumeField& f : Volumes) {
        const Field& field = fields[f.index];
        if (field.length > 0)
            record.*f.member = kelvo::TextToInt(field.text, field.text + field.length, 10);
    }
}

// Fields 59 to 62 count only when the record has them; a field it lacks
// reads as empty, which comes to the same.
void FillOptional(const Field* fields, Record& record)
{
    if (fields[59].length > 0)
        record.OpenInterest = Float(fields[59]);
    if (fields[60].length > 0)
        CopyText(record.TradingDay, fields[60]);
    if (fields[61].length > 0)
        record.AveragePrice = Float(fields[61]);
    if (fields[62].length > 0)
        record.SettlementPrice = Float(fields[62]);
}

// Collects fields as their ends are found.
class FieldCutter {
public:
    FieldCutter(const char* text, Field* fields) : m_start(text), m_fields(fields) {}
    // Ends the current field at stop; true once every field read is found.
    bool Cut(const char* stop)
    {
        m_fields[m_count++] = {m_start, static_cast<std::size_t>(stop - m_start)};
        m_start = stop + 1;
        return m_count == ReadFields;
    }
    // The fields the text lacks read as empty.
    void EmptyRest(const char* end)
    {
        for (; m_count < ReadFields; ++m_count)
            m_fields[m_count] = {end, 0};
    }

private:
    const char* m_start;
    Field* m_fields;
    int m_count = 0;
};

// Finds fields 0 to 62 in place, without copying the body. The text ends at
// the body's first zero byte, if it has one, as a C string would.
void SplitFields(const char* body, std::size_t length, Field* fields)
{
    if (length == 0)
        body = ""; // every field then points at text, never at null
    FieldCutter cutter(body, fields);
    const char* p = body;
    const char* end = body + length;
#if defined(KELVO_SSE2)
    // Sixteen bytes at a time, separators and the zero byte in one pass:
    // a record is some 300 bytes of short fields, too short for memchr.
    const __m128i separator = _mm_set1_epi8('\x01');
    const __m128i zero = _mm_setzero_si128();
    for (; end - p >= 16; p += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned cuts = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, separator)));
        const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, zero)));
        if (zeros) {
            end = p + kelvo::LowestBit(zeros);
            cuts &= (1u << kelvo::LowestBit(zeros)) - 1;
        }
        for (; cuts != 0; cuts &= cuts - 1)
            if (cutter.Cut(p + kelvo::LowestBit(cuts)))
                return;
        if (zeros) {
            p = end;
            break;
        }
    }
#endif
    for (; p < end; ++p) {
        if (*p == 0) {
            end = p;
            break;
        }
        if (*p == '\x01' && cutter.Cut(p))
            return;
    }
    if (!cutter.Cut(end))
        cutter.EmptyRest(end);
}

} // namespace

void DecodeDepthText(std::uint32_t marker, const char* body, std::uint32_t length, Record& record)
{
    const bool text = marker == MarkerText || marker == MarkerTextJoined;
    Field fields[ReadFields];
    SplitFields(body, text ? length : 0, fields);

    FormInstrumentID(marker, fields, record);
    CopyText(record.ExchangeID, fields[0]);
    CopyText(record.ExchangeInstID, fields[1]);
    FillNumbers(fields, record);
    CopyText(record.UpdateTime, fields[55]);
    FillOptional(fields, record);
}

} // namespace mdlink
