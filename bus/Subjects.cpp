#include "Subjects.h"

#include <algorithm>
#include <cstring>

namespace mdrelay {

namespace {

constexpr char Hex[] = "0123456789ABCDEF";

bool Plain(unsigned char c)
{
    return c >= 0x21 && c <= 0x7E && c != '.' && c != '*' && c != '>' && c != '%';
}

std::size_t Length(const char* text, std::size_t width)
{
    const void* nul = std::memchr(text, 0, width);
    return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : width;
}

// Appends the token of text[0, n) at out, which has room for 3 * n bytes
// (and at least 3); returns the bytes written.
std::size_t WriteToken(const char* text, std::size_t n, char* out)
{
    if (n == 0) {
        out[0] = '_';
        return 1;
    }
    if (n == 1 && text[0] == '_') {
        std::memcpy(out, "%5F", 3);
        return 3;
    }
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (Plain(c)) {
            out[w++] = static_cast<char>(c);
        } else {
            out[w++] = '%';
            out[w++] = Hex[c >> 4];
            out[w++] = Hex[c & 15];
        }
    }
    return w;
}

} // namespace

std::string EscapeToken(const char* text, std::size_t width)
{
    const std::size_t n = Length(text, width);
    std::string out(3 * n + 3, '\0');
    out.resize(WriteToken(text, n, &out[0]));
    return out;
}

bool ValidPrefix(const std::string& prefix)
{
    if (prefix.empty() || prefix.size() > 255)
        return false;
    std::size_t tokenLength = 0;
    for (const char ch : prefix) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '.') {
            if (tokenLength == 0)
                return false;
            tokenLength = 0;
        } else if (c <= 0x20 || c >= 0x7F || c == '*' || c == '>') {
            return false;
        } else {
            ++tokenLength;
        }
    }
    return tokenLength > 0;
}

SubjectBuilder::SubjectBuilder(const std::string& prefix) : prefix_(prefix.substr(0, 255))
{
    std::memcpy(buf_, prefix_.data(), prefix_.size());
}

void SubjectBuilder::Token(const char* text, std::size_t width)
{
    buf_[len_++] = '.';
    len_ += WriteToken(text, Length(text, width), buf_ + len_);
}

const char* SubjectBuilder::Ids(const char* exchange, std::size_t exchangeWidth, const char* instrument,
                                std::size_t instrumentWidth)
{
    Token(exchange, exchangeWidth);
    Token(instrument, instrumentWidth);
    buf_[len_] = '\0';
    return buf_;
}

const char* SubjectBuilder::Depth(const CThostFtdcDepthMarketDataField& d)
{
    len_ = prefix_.size();
    return Ids(d.ExchangeID, sizeof d.ExchangeID, d.InstrumentID, sizeof d.InstrumentID);
}

const char* SubjectBuilder::ForQuote(const CThostFtdcForQuoteRspField& q)
{
    len_ = prefix_.size();
    std::memcpy(buf_ + len_, ".forquote", 9);
    len_ += 9;
    return Ids(q.ExchangeID, sizeof q.ExchangeID, q.InstrumentID, sizeof q.InstrumentID);
}

std::string DepthFilter(const std::string& prefix, const std::string& instrument)
{
    return prefix + ".*." + EscapeToken(instrument);
}

std::string ForQuoteFilter(const std::string& prefix, const std::string& instrument)
{
    return prefix + ".forquote.*." + EscapeToken(instrument);
}

std::string AllFilter(const std::string& prefix)
{
    return prefix + ".>";
}

bool SubjectMatches(const std::string& filter, const std::string& subject)
{
    std::size_t f = 0, s = 0;
    for (;;) {
        const std::size_t fe = std::min(filter.find('.', f), filter.size());
        const std::size_t se = std::min(subject.find('.', s), subject.size());
        if (f >= filter.size() || s >= subject.size())
            return f >= filter.size() && s >= subject.size();
        const std::string token = filter.substr(f, fe - f);
        if (token == ">")
            return true; // one token or more
        if (token != "*" && token != subject.substr(s, se - s))
            return false;
        if ((fe == filter.size()) != (se == subject.size()))
            return false;
        if (fe == filter.size())
            return true;
        f = fe + 1;
        s = se + 1;
    }
}

std::string RefusedSubject(const std::string& text)
{
    const std::string marker = "Publish to ";
    const std::size_t at = text.find(marker);
    if (at == std::string::npos)
        return "";
    std::size_t from = at + marker.size();
    std::size_t to;
    if (from < text.size() && (text[from] == '"' || text[from] == '\'')) {
        to = text.find(text[from], from + 1);
        ++from;
    } else {
        to = text.find_first_of(" \t\r\n", from);
    }
    if (to == std::string::npos)
        to = text.size();
    return text.substr(from, to - from);
}

} // namespace mdrelay
