// MDLINK_LINKS in the environment: how many links CreateFtdcMdApi gives a
// client. A decimal number from 2 on makes a redundant client (at most
// RedundantMaxLinks links); unset, empty, "1" or anything else that is not
// such a number leaves the single client, unchanged.
#pragma once

namespace mdlink {

constexpr const char* LinksVariable = "MDLINK_LINKS";

inline int LinksFromText(const char* text)
{
    if (!text || !*text)
        return 1;
    int n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return 1;
        n = n * 10 + (*p - '0');
        if (n > 1000)
            n = 1000; // far past any number of links
    }
    return n >= 2 ? n : 1;
}

} // namespace mdlink
