// Shortest decimal text for doubles that reads back to the same value, so a
// record written as text (CSV, the depth text form) survives the round trip
// bit for bit.
#pragma once

#include "ShortestDouble.h"

#include <charconv>
#include <cstdlib>
#include <string>
#include <system_error>

namespace mdtools {

inline void AppendDouble(std::string& out, double v)
{
    char buf[64];
    out.append(buf, ShortestDouble(buf, v));
}

inline std::string DoubleText(double v)
{
    std::string s;
    AppendDouble(s, v);
    return s;
}

inline void AppendInt(std::string& out, long long v)
{
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

// Whole-field parses: false when the text is empty or has anything left over.
inline bool ParseDouble(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size())
        return false;
    out = v;
    return true;
}

inline bool ParseInt(const std::string& text, long long& out)
{
    if (text.empty())
        return false;
    auto res = std::from_chars(text.data(), text.data() + text.size(), out);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

} // namespace mdtools
