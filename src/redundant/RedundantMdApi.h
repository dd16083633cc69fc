// The redundant client: the published CThostFtdcMdApi over N links, each an
// inner client of its own holding a different front at the same time. The
// application sees one client; each depth record comes once, from whichever
// link brought it first.
//
//   CThostFtdcMdApi* NewSingle() { return CThostFtdcMdApi::CreateFtdcMdApi(); }
//   mdlink::CRedundantMdApi* api = mdlink::CRedundantMdApi::Create(2, &NewSingle);
//   api->RegisterSpi(&spi);                 // then as any client: fronts, Init,
//   api->RegisterFront(a); api->RegisterFront(b);   // login, subscriptions
//   api->Init();
//   ...
//   mdlink::RedundantLinkCounters links[mdlink::RedundantMaxLinks];
//   int n = api->GetLinkCounters(links, mdlink::RedundantMaxLinks);
//   api->Release();
//
// The factory must give plain single clients. libmdlink's CreateFtdcMdApi
// does so while MDLINK_LINKS is unset or below 2 (it reads the variable at
// every call): a program that builds redundant clients itself removes the
// variable from its environment before it creates its first client.
//
// What the application sees (the published interface otherwise unchanged)
// is written out in RedundantClient.h; the arbitration rule in DepthOrder.h
// and DepthArbiter.h.
#pragma once

#include "MdApi.h"

#include <functional>

namespace mdlink {

// Makes one plain client for one link; null on failure. Called at Init for
// each link, and again, on the loop thread, for a link closed to start over
// (after a refused or unanswered login, or at a total loss).
typedef CThostFtdcMdApi* (*ClientFactory)();
// The same, told which link the client is for.
using LinkFactory = std::function<CThostFtdcMdApi*(int link)>;

enum { RedundantMaxLinks = 8 };

// How late a link's copies came, after the first copy of the same record:
// bucket 0 counts copies less than RedundantLateBoundsUs[0] late, bucket i
// those at least bound i - 1 and less than bound i, the last bucket the rest.
enum { RedundantLateBuckets = 10 };
inline constexpr unsigned int RedundantLateBoundsUs[RedundantLateBuckets - 1] = {
    10, 30, 100, 300, 1000, 3000, 10000, 30000, 100000};

struct RedundantLinkCounters {
    char Fronts[128];                 // the fronts this link holds, blank-separated (cut to fit)
    int Up;                           // 1 while its connection is up
    int LoggedIn;                     // 1 while usable: logged in and subscribed again
    long long LastRecordAgeMs;        // since the last depth record it brought; -1: none yet
    unsigned long long Connects;      // times its connection came up
    unsigned long long Reconnections; // connections after the first
    unsigned long long Losses;        // times its connection was lost while up
    unsigned long long LoginsRefused; // logins its fronts refused
    unsigned long long LoginTimeouts; // logins left unanswered for RedundantLoginTimeoutMs
    unsigned long long Records;       // depth records it brought
    unsigned long long First;         // depth records it delivered first
    unsigned long long Copies;        // copies of delivered records it brought later, dropped
    unsigned long long LateCopies;    // of those, copies of records 8 or more deliveries back
    unsigned long long Older;         // records older than the last delivered, dropped
    unsigned long long Held;          // records held while the link joined ahead of the others
    unsigned long long NoticesFirst;  // for-quote notices it delivered first
    unsigned long long NoticeCopies;  // for-quote notices already delivered, dropped
    unsigned long long LateTimed;     // copies whose lateness was timed (of one record a millisecond)
    unsigned long long Late[RedundantLateBuckets];
    unsigned long long LateMaxUs; // the latest timed copy
    unsigned long long LateSumUs; // of the timed copies
};

// A login neither accepted nor refused within this time closes the link, as
// a refused one does; it connects again after RedundantReconnectMs, doubled
// after each further failure up to RedundantMaxReconnectMs.
enum { RedundantLoginTimeoutMs = 10000, RedundantReconnectMs = 3000, RedundantMaxReconnectMs = 60000 };

// The reason a usable link was lost when its front refused a login (the
// others are its connection's: 0x2001, 0x2002, ...).
enum { RedundantLoginRefused = -1 };

// Told of each link's loss and return, on the loop thread, after the
// application's own callbacks for the same event; must not block.
class RedundantLinkWatcher {
public:
    // The link is usable again (logged in, subscribed again).
    virtual void OnLinkUp(int link, const char* fronts) = 0;
    // The link stopped being usable: the connection's reason, or
    // RedundantLoginRefused.
    virtual void OnLinkDown(int link, const char* fronts, int reason) = 0;

protected:
    ~RedundantLinkWatcher() = default;
};

class CRedundantMdApi : public CThostFtdcMdApi {
public:
    // links: clamped to 1..RedundantMaxLinks. Writes its records to the
    // client log ("./KVMDLog"), module "KVMDLinks".
    static CRedundantMdApi* Create(int links, ClientFactory factory);
    static CRedundantMdApi* Create(int links, LinkFactory factory);

    // Fills up to max entries, one per link made by Init (none before);
    // returns how many. Any thread, also inside a callback; not after Release.
    virtual int GetLinkCounters(RedundantLinkCounters* out, int max) = 0;

    // Null stops the telling; from any thread, before or after Init. Once it
    // returns, the watcher it replaced is called no more.
    virtual void RegisterLinkWatcher(RedundantLinkWatcher* watcher) = 0;

protected:
    ~CRedundantMdApi() {}
};

} // namespace mdlink
