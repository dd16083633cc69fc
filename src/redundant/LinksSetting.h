// How many links a client holds, read the one way for MDLINK_LINKS in the
// environment and for the tools' --links: a decimal number, blanks around it
// tolerated. 1 is the single client; 2 to RedundantMaxLinks a redundant
// client of that many links; more reads as RedundantMaxLinks. Anything else
// (a sign, other characters, 0) is unreadable.
#pragma once

#include "RedundantMdApi.h"

namespace mdlink {

constexpr const char* LinksVariable = "MDLINK_LINKS";

struct LinksReading {
    enum class What { Unset, Links, AboveMost, Unreadable };
    What what = What::Unset;
    int links = 1;     // what the client gets: 1 unless Links or AboveMost
    int requested = 0; // AboveMost: the number read (at most a little above the most)
};

inline LinksReading ReadLinks(const char* text)
{
    LinksReading r;
    if (!text)
        return r;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    const char* p = text;
    while (blank(*p))
        ++p;
    const char* end = p;
    while (*end)
        ++end;
    while (end > p && blank(end[-1]))
        --end;
    if (p == end)
        return r; // empty: as if unset
    long long n = 0;
    for (const char* q = p; q < end; ++q) {
        if (*q < '0' || *q > '9') {
            r.what = LinksReading::What::Unreadable;
            return r;
        }
        if (n <= RedundantMaxLinks)
            n = n * 10 + (*q - '0');
    }
    if (n < 1) {
        r.what = LinksReading::What::Unreadable;
    } else if (n > RedundantMaxLinks) {
        r.what = LinksReading::What::AboveMost;
        r.links = RedundantMaxLinks;
        r.requested = static_cast<int>(n);
    } else {
        r.what = LinksReading::What::Links;
        r.links = static_cast<int>(n);
    }
    return r;
}

} // namespace mdlink
