#include "DepthText.h"

#include "NumberText.h"
#include "wire/DepthTextFields.h"

#include <cctype>
#include <cstddef>
#include <cstring>

namespace mdfront {

namespace {

using Depth = CThostFtdcDepthMarketDataField;

enum class Kind { Double, Int };

struct NumericField {
    int index;
    Kind kind;
    std::size_t offset;
};

// Every numeric member the text form carries, at its field index.
#define MDFRONT_CARRIED(index, kind, member) {index, Kind::kind, offsetof(Depth, member)},
const NumericField Carried[] = {MDLINK_DEPTH_TEXT_NUMBERS(MDFRONT_CARRIED)};
#undef MDFRONT_CARRIED

#define MDFRONT_DBL(i, m)                                                                                    \
    {                                                                                                        \
        i, Kind::Double, offsetof(Depth, m)                                                                  \
    }
// Members the text form does not carry go into the unused fields 11 to 14,
// so that a reader taking a value from the wrong index is noticed.
const NumericField Uncarried[] = {
    MDFRONT_DBL(11, PreOpenInterest),
    MDFRONT_DBL(12, ClosePrice),
    MDFRONT_DBL(13, PreDelta),
    MDFRONT_DBL(14, CurrDelta),
};

#undef MDFRONT_DBL

using mdlink::TextFieldExchange;
using mdlink::TextFieldExchangeInst;
using mdlink::TextFieldInstrument;
using mdlink::TextFieldTradingDay;
using mdlink::TextFieldUpdateTime;

std::string NumberField(const Depth& d, const NumericField& f, bool emptyZeros)
{
    const auto* base = reinterpret_cast<const unsigned char*>(&d);
    std::string out;
    if (f.kind == Kind::Double) {
        double v;
        std::memcpy(&v, base + f.offset, sizeof v);
        if (!(emptyZeros && v == 0.0))
            mdtools::AppendDouble(out, v);
    } else {
        int v;
        std::memcpy(&v, base + f.offset, sizeof v);
        if (!(emptyZeros && v == 0))
            mdtools::AppendInt(out, v);
    }
    return out;
}

void PadFields(std::vector<std::string>& fields, std::size_t padTo)
{
    std::size_t length = fields.size() - 1; // separators
    for (const std::string& f : fields)
        length += f.size();
    if (length >= padTo)
        return;
    while (fields.size() < static_cast<std::size_t>(TextFieldsAll)) {
        fields.emplace_back();
        ++length;
    }
    if (length < padTo)
        fields.emplace_back(padTo - length - 1, 'x'); // one byte goes to its separator
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

} // namespace

std::vector<std::string> DepthTextFields(const Depth& d, const TextOptions& opt)
{
    const int count = opt.field_count > 0 ? opt.field_count : 1;
    std::vector<std::string> fields(static_cast<std::size_t>(count > 64 ? count : 64), "0");
    fields[TextFieldExchange] = MemberText(d.ExchangeID, sizeof d.ExchangeID);
    fields[TextFieldExchangeInst] = MemberText(d.ExchangeInstID, sizeof d.ExchangeInstID);
    // The joined form builds its id from all three fields; field 2 stays
    // empty so the id reads "exchange instrument ".
    fields[TextFieldInstrument] =
        opt.form == DepthForm::Joined ? std::string() : MemberText(d.InstrumentID, sizeof d.InstrumentID);
    for (const NumericField& f : Carried)
        fields[static_cast<std::size_t>(f.index)] = NumberField(d, f, opt.empty_zeros);
    for (const NumericField& f : Uncarried)
        fields[static_cast<std::size_t>(f.index)] = NumberField(d, f, false);
    fields[TextFieldUpdateTime] = MemberText(d.UpdateTime, sizeof d.UpdateTime);
    fields[TextFieldTradingDay] = MemberText(d.TradingDay, sizeof d.TradingDay);
    for (std::size_t i = TextFieldsAll; i < fields.size(); ++i)
        fields[i] = "extra";
    fields.resize(static_cast<std::size_t>(count));
    if (opt.pad_to > 0)
        PadFields(fields, opt.pad_to);
    return fields;
}

Bytes DepthTextBody(const Depth& d, const TextOptions& opt)
{
    const std::vector<std::string> fields = DepthTextFields(d, opt);
    Bytes body;
    body.reserve(512);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            body.push_back(static_cast<unsigned char>(TextSeparator));
        body.insert(body.end(), fields[i].begin(), fields[i].end());
    }
    return body;
}

std::string JoinedInstrumentId(DepthForm form, const std::string& f0, const std::string& f1,
                               const std::string& f2)
{
    std::string id;
    if (form == DepthForm::Joined)
        id = f0 + " " + f1 + " " + f2;
    else if (!f2.empty())
        id = f2;
    else if (f0.empty() || StartsWithNoCase(f1, f0))
        id = f1;
    else
        id = f0 + " " + f1;
    return id;
}

Depth ExpectedFromText(const Depth& d, const TextOptions& opt)
{
    const std::vector<std::string> fields = DepthTextFields(d, opt);
    auto field = [&fields](int i) {
        return static_cast<std::size_t>(i) < fields.size() ? fields[static_cast<std::size_t>(i)]
                                                           : std::string();
    };
    Depth e;
    std::memset(&e, 0, sizeof e);
    CopyText(e.InstrumentID, sizeof e.InstrumentID,
             JoinedInstrumentId(opt.form, field(TextFieldExchange), field(TextFieldExchangeInst),
                                field(TextFieldInstrument)));
    CopyText(e.ExchangeID, sizeof e.ExchangeID, field(TextFieldExchange));
    CopyText(e.ExchangeInstID, sizeof e.ExchangeInstID, field(TextFieldExchangeInst));
    CopyText(e.UpdateTime, sizeof e.UpdateTime, field(TextFieldUpdateTime));
    CopyText(e.TradingDay, sizeof e.TradingDay, field(TextFieldTradingDay));
    const auto* src = reinterpret_cast<const unsigned char*>(&d);
    auto* dst = reinterpret_cast<unsigned char*>(&e);
    for (const NumericField& f : Carried) {
        if (field(f.index).empty())
            continue;
        std::memcpy(dst + f.offset, src + f.offset, f.kind == Kind::Double ? 8 : 4);
    }
    return e;
}

Depth ExpectedFromBinary(const Depth& d, std::size_t bodyLength)
{
    Depth e;
    std::memset(&e, 0, sizeof e);
    std::memcpy(&e, &d, bodyLength < sizeof e ? bodyLength : sizeof e);
    return e;
}

} // namespace mdfront
