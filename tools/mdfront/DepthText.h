// The text form of a depth record: fields separated by the byte 0x01, each
// member at its fixed field index. Also what a correct client must make of
// such a record, so tests can compare the record delivered to the
// application with the one the front meant.
#pragma once

#include "FrameBuilder.h"
#include "FrontConfig.h"
#include "MdApi.h"
#include "wire/DepthTextFields.h"

#include <string>
#include <vector>

namespace mdfront {

constexpr int TextFieldsAlways = mdlink::TextFieldsAlways; // fields 0..58 are always read
constexpr int TextFieldsAll = mdlink::TextFieldsRead;      // 59..62 are optional
constexpr char TextSeparator = '\x01';

struct TextOptions {
    DepthForm form = DepthForm::Text; // Text or Joined
    int field_count = TextFieldsAll;
    bool empty_zeros = false;
    // Pad the joined text to at least this many bytes with filler fields
    // from index 63 on, which no reader looks at; 0 = no padding.
    std::size_t pad_to = 0;
};

// The fields, in order, before joining.
std::vector<std::string> DepthTextFields(const CThostFtdcDepthMarketDataField& d, const TextOptions& opt);

Bytes DepthTextBody(const CThostFtdcDepthMarketDataField& d, const TextOptions& opt);

// InstrumentID that a reader forms from the first three text fields.
std::string JoinedInstrumentId(DepthForm form, const std::string& f0, const std::string& f1,
                               const std::string& f2);

// The record a correct client delivers for a text body built from d: only
// the carried members, text cut to its member's width, the rest zero.
CThostFtdcDepthMarketDataField ExpectedFromText(const CThostFtdcDepthMarketDataField& d,
                                                const TextOptions& opt);

// The record a client delivers for a binary body of bodyLength bytes: the
// body's bytes, zeros past its end.
CThostFtdcDepthMarketDataField ExpectedFromBinary(const CThostFtdcDepthMarketDataField& d,
                                                  std::size_t bodyLength);

} // namespace mdfront
