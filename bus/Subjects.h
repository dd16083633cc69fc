// Where a record goes on the bus: "<prefix>.<exchange>.<instrument>" for
// depth data, "<prefix>.forquote.<exchange>.<instrument>" for for-quote
// notices (one token more, so no exchange id can make the two meet).
//
// A subject token may not hold a space, '.', '*', '>' or a control
// character, and may not be empty. An id becomes a token by this rule:
//   - bytes 0x21..0x7E other than '.', '*', '>' and '%' stay as they are;
//   - every other byte (space, those four, controls, bytes of 0x7F and
//     above) becomes '%' and two upper-case hex digits ("a.b" -> "a%2Eb");
//   - an empty id becomes "_", and an id that is exactly "_" becomes "%5F".
// Two different ids never share a token, and ids made only of letters,
// digits and the usual punctuation keep their own spelling.
#pragma once

#include "MdApi.h"

#include <cstddef>
#include <string>

namespace mdrelay {

// The token of an id read from a fixed-width member: up to its first NUL.
std::string EscapeToken(const char* text, std::size_t width);
inline std::string EscapeToken(const std::string& text)
{
    return EscapeToken(text.data(), text.size());
}

// A prefix is one or more dot-separated tokens, none empty, with no
// character a token may not hold.
bool ValidPrefix(const std::string& prefix);

// Builds subjects into a fixed buffer, so that the publishing thread
// allocates nothing per record for them.
class SubjectBuilder {
public:
    explicit SubjectBuilder(const std::string& prefix);

    // Pointers into the builder, valid until its next call.
    const char* Depth(const CThostFtdcDepthMarketDataField& d);
    const char* ForQuote(const CThostFtdcForQuoteRspField& q);

private:
    // A 255-byte prefix, ".forquote", and both ids with every byte escaped.
    static constexpr std::size_t Capacity = 255 + 9 + 2 +
        3 *
            (sizeof(CThostFtdcDepthMarketDataField::ExchangeID) +
             sizeof(CThostFtdcDepthMarketDataField::InstrumentID));

    void Token(const char* text, std::size_t width);
    const char* Ids(const char* exchange, std::size_t exchangeWidth, const char* instrument,
                    std::size_t instrumentWidth);

    std::string prefix_;
    char buf_[Capacity + 1];
    std::size_t len_ = 0;
};

// The subjects a reader filters on: every record of an instrument on any
// exchange ("<prefix>.*.<token>"), its for-quote notices, or everything.
std::string DepthFilter(const std::string& prefix, const std::string& instrument);
std::string ForQuoteFilter(const std::string& prefix, const std::string& instrument);
std::string AllFilter(const std::string& prefix);

// Whether a stream or consumer subject (with '*' for one token and '>' for
// the rest) takes subject.
bool SubjectMatches(const std::string& filter, const std::string& subject);

// The subject a server's "Permissions Violation for Publish to "x"" names;
// empty when the text names none.
std::string RefusedSubject(const std::string& text);

} // namespace mdrelay
