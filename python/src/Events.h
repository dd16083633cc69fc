// Events of one client as they wait for Python: plain copies of the records
// the library handed over, valid after its callback has returned.
#pragma once

#include "MdApi.h"

namespace mdpy {

enum class EventKind {
    Connected,
    Disconnected,
    Login,
    Subscribed,
    Unsubscribed,
    ForQuoteSubscribed,
    ForQuoteUnsubscribed,
    ForQuote,
    LinkUp,   // a link of a redundant client usable again
    LinkDown, // one no longer usable, the others carrying on
    Count
};

inline const char* const EventNames[] = {"connected",
                                         "disconnected",
                                         "login",
                                         "subscribed",
                                         "unsubscribed",
                                         "for_quote_subscribed",
                                         "for_quote_unsubscribed",
                                         "for_quote",
                                         "link_up",
                                         "link_down"};
static_assert(sizeof EventNames / sizeof EventNames[0] == static_cast<int>(EventKind::Count),
              "a name a kind");

struct EventRecord {
    EventKind kind = EventKind::Connected;
    int reason = 0;
    int requestId = 0;
    bool isLast = false;
    bool hasLogin = false;
    bool hasInfo = false;
    bool hasInstrument = false;
    bool hasNotice = false;
    CThostFtdcRspUserLoginField login{};
    CThostFtdcRspInfoField info{};
    CThostFtdcSpecificInstrumentField instrument{};
    CThostFtdcForQuoteRspField notice{};
    int link = -1; // link events: the link's index and its fronts
    char fronts[128] = {};
};

// The event of a response: its kind, its request and place in the answer,
// and the front's error information when it sent some.
inline EventRecord Response(EventKind kind, int id, bool last, const CThostFtdcRspInfoField* info)
{
    EventRecord e;
    e.kind = kind;
    e.requestId = id;
    e.isLast = last;
    e.hasInfo = info != nullptr;
    if (info)
        e.info = *info;
    return e;
}

enum class LoginState { None, Ok, Failed };

} // namespace mdpy
