// Decoding the text form of a depth record (wire/DepthTextFields.h says
// which field carries what), in place and without allocating.
#include "wire/DepthText.h"

#include "ByteScan.h"
#include "NumberText.h"
#include "wire/DepthTextFields.h"
#include "wire/FrameHeader.h"

#include <cstddef>
#include <cstring>

namespace mdlink {

namespace {

using Record = CThostFtdcDepthMarketDataField;

// One field: a range of the body, not terminated.
struct Field {
    const char* text;
    std::size_t length;
};

constexpr int ReadFields = TextFieldsRead;

// Appends to a text member, keeping its last byte for the terminator.
template <std::size_t N>
class MemberText {
public:
    explicit MemberText(char (&member)[N]) : member_(member) {}
    MemberText& Add(const char* text, std::size_t n)
    {
        const std::size_t room = N - 1 - used_;
        if (n > room)
            n = room;
        std::memcpy(member_ + used_, text, n);
        used_ += n;
        return *this;
    }
    MemberText& Add(const Field& f) { return Add(f.text, f.length); }

private:
    char* member_;
    std::size_t used_ = 0;
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
    const Field& exchange = fields[TextFieldExchange];
    const Field& exchangeInst = fields[TextFieldExchangeInst];
    const Field& instrument = fields[TextFieldInstrument];
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

void Fill(double& member, const Field& f)
{
    member = Float(f);
}

void Fill(int& member, const Field& f)
{
    member = kelvo::TextToInt(f.text, f.text + f.length, 10);
}

// A field the record lacks reads as empty, and an empty field leaves its
// member zero: the optional fields need no case of their own.
void FillNumbers(const Field* fields, Record& record)
{
#define MDLINK_FILL_NUMBER(index, kind, member)                                                              \
    if (fields[index].length > 0)                                                                            \
        Fill(record.member, fields[index]);
    MDLINK_DEPTH_TEXT_NUMBERS(MDLINK_FILL_NUMBER)
#undef MDLINK_FILL_NUMBER
}

// Collects fields as their ends are found.
class FieldCutter {
public:
    FieldCutter(const char* text, Field* fields) : start_(text), fields_(fields) {}
    // Ends the current field at stop; true once every field read is found.
    bool Cut(const char* stop)
    {
        fields_[count_++] = {start_, static_cast<std::size_t>(stop - start_)};
        start_ = stop + 1;
        return count_ == ReadFields;
    }
    // The fields the text lacks read as empty.
    void EmptyRest(const char* end)
    {
        for (; count_ < ReadFields; ++count_)
            fields_[count_] = {end, 0};
    }

private:
    const char* start_;
    Field* fields_;
    int count_ = 0;
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
    CopyText(record.ExchangeID, fields[TextFieldExchange]);
    CopyText(record.ExchangeInstID, fields[TextFieldExchangeInst]);
    FillNumbers(fields, record);
    CopyText(record.UpdateTime, fields[TextFieldUpdateTime]);
    if (fields[TextFieldTradingDay].length > 0)
        CopyText(record.TradingDay, fields[TextFieldTradingDay]);
}

} // namespace mdlink
