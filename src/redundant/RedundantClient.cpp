// Creation, registration, Init, Release and the counters of the redundant
// client: the application's side of the object.
#include "RedundantClient.h"

#include "LinkSpi.h"
#include "RedundantTimer.h"

#include "calls/Boundary.h"
#include "calls/LoopCall.h"
#include "log/LogRecord.h"

#include "ForcedUnwind.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <utility>

namespace mdlink {

CRedundantMdApi* CRedundantMdApi::Create(int links, ClientFactory factory)
{
    return Create(links, LinkFactory([factory](int) { return factory ? factory() : nullptr; }));
}

CRedundantMdApi* CRedundantMdApi::Create(int links, LinkFactory factory)
{
    return AtBoundary<CRedundantMdApi*>(nullptr, [&]() -> CRedundantMdApi* {
        CRedundantMdClient* client = new CRedundantMdClient(links, std::move(factory));
        client->WriteLog(links > RedundantMaxLinks ? LogWarning : LogInfo, "InitApi",
                         "CreateFtdcMdApi static Version Foreign %s, %d links%s", InterfaceVersion,
                         links < 1 ? 1 : (links > RedundantMaxLinks ? RedundantMaxLinks : links),
                         links > RedundantMaxLinks ? " (the most there may be)" : "");
        return client;
    });
}

CRedundantMdClient::CRedundantMdClient(int links, LinkFactory factory)
    : wanted_(links < 1 ? 1 : (links > RedundantMaxLinks ? RedundantMaxLinks : links)),
      factory_(std::move(factory)), arbiter_(wanted_, nullptr, this)
{
    logger_.reset(new Kelvo_Log(1));
    logger_->SetMainDir(LogDirectory);
    logger_->Init(LogName, LogKeepDays);
}

// Release has released the inner clients and stopped the timer.
CRedundantMdClient::~CRedundantMdClient() = default;

void CRedundantMdClient::RegisterSpi(CThostFtdcMdSpi* pSpi)
{
    AtBoundary([&] {
        if (Inherited())
            return;
        WriteLog(LogInfo, "RegSpi", "RegisterSpi [0x%08x]",
                 static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(pSpi)));
        if (!started_) {
            spi_ = pSpi;
            return;
        }
        // The loop reads it for every record: switched there, so that no
        // callback on the old object runs once this returns.
        CallOnLoop([this, pSpi] { spi_ = pSpi; });
    });
}

void CRedundantMdClient::RegisterFront(char* pszFrontAddress)
{
    AtBoundary([&] {
        if (Inherited())
            return;
        if (!pszFrontAddress) {
            WriteLog(LogWarning, "RegFront", "RegisterFront: null address ignored");
            return;
        }
        WriteLog(LogInfo, "RegFront", "RegisterFront : %s", pszFrontAddress);
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (!started_) {
                fronts_.push_back(pszFrontAddress);
                return;
            }
        }
        // After Init the links take new fronts in turn; on the loop, where a
        // link's client is replaced when it connects again.
        const std::string front = pszFrontAddress;
        CallOnLoop([this, &front] {
            CThostFtdcMdApi* inner = nullptr;
            {
                std::lock_guard<std::mutex> lock(mu_);
                const std::size_t k = dealt_++ % links_.size();
                Link& link = links_[k];
                link.frontList.push_back(front);
                link.fronts += " " + front;
                inner = link.inner;
                WriteLog(LogInfo, "RegFront", "link %d takes %s", static_cast<int>(k), front.c_str());
            }
            if (inner)
                inner->RegisterFront(const_cast<char*>(front.c_str()));
        });
    });
}

void CRedundantMdClient::Init()
{
    AtBoundary([&] {
        if (Inherited())
            return;
        if (started_) {
            WriteLog(LogWarning, "Init", "Init: already started");
            return;
        }
        std::size_t fronts = 0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            fronts = fronts_.size();
        }
        if (fronts == 0) {
            WriteLog(LogError, "Init", "Init: no front registered");
            return;
        }
        const std::size_t count =
            fronts < static_cast<std::size_t>(wanted_) ? fronts : static_cast<std::size_t>(wanted_);
        if (count < static_cast<std::size_t>(wanted_))
            WriteLog(LogWarning, "Init", "Init: %d links asked for, %d fronts registered: %d links", wanted_,
                     static_cast<int>(fronts), static_cast<int>(count));
        MakeLinks(count);
        started_ = true;
        // On the loop, so that no link calls back before every link is started.
        bool reached = false;
        try {
            CallOnLoop([this, &reached] {
                reached = true;
                StartOnLoop();
            });
        }
        KELVO_LET_FORCED_UNWIND_THROUGH
        catch (...)
        {
            // Never reached the loop (no memory, no loop thread): nothing was
            // started, so a later Init may try again.
            if (!reached) {
                started_ = false;
                ReleaseLinks();
                std::lock_guard<std::mutex> lock(mu_);
                links_.clear();
                responses_.reset();
            }
            throw;
        }
    });
}

// Each link gets an inner client of its own, its callback object and its
// share of the fronts, dealt in turn.
void CRedundantMdClient::MakeLinks(std::size_t count)
{
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Link> links(count);
    try {
        for (std::size_t k = 0; k < count; ++k) {
            links[k].inner = factory_ ? factory_(static_cast<int>(k)) : nullptr;
            if (!links[k].inner)
                throw std::bad_alloc();
            links[k].spi.reset(new LinkSpi(*this, static_cast<int>(k)));
            links[k].inner->RegisterSpi(links[k].spi.get());
        }
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...)
    {
        for (Link& l : links)
            if (l.inner)
                l.inner->Release(); // never started: nothing of it runs
        throw;
    }
    for (std::size_t i = 0; i < fronts_.size(); ++i) {
        Link& l = links[i % count];
        l.inner->RegisterFront(&fronts_[i][0]);
        l.frontList.push_back(fronts_[i]);
        l.fronts += (l.fronts.empty() ? "" : " ") + fronts_[i];
    }
    if (figures_)
        figures_->made.Set(count);
    dealt_ = fronts_.size();
    links_.swap(links);
    responses_.reset(new ResponseMerge(static_cast<int>(count)));
    for (std::size_t k = 0; k < count; ++k)
        WriteLog(LogInfo, "Init", "Init: link %d holds %s", static_cast<int>(k), links_[k].fronts.c_str());
}

void CRedundantMdClient::StartOnLoop()
{
    minute_.reset(new RedundantTimer(*this, &CRedundantMdClient::OnMinute, "redundant counters"));
    watch_.reset(new RedundantTimer(*this, &CRedundantMdClient::OnWatch, "redundant links"));
    hold_.reset(new RedundantTimer(*this, &CRedundantMdClient::OnHoldDue, "redundant hold"));
    minute_->Arm(60 * 1000);
    watch_->Arm(WatchMs);
    for (Link& l : links_)
        l.inner->Init();
}

void CRedundantMdClient::Release()
{
    AtBoundary([&] {
        if (Inherited()) {
            // A parent's thread may have held the session lock at the fork;
            // the child has one thread, so a new lock is safe to take.
            new (&mu_) std::mutex();
            for (Link& l : links_)
                if (l.inner)
                    l.inner->Release();
            delete this;
            return;
        }
        if (!started_) {
            delete this;
            return;
        }
        // Inside a callback: the links close now, the object goes once the
        // callback has returned to the loop.
        if (Kelvo_LOOP_InThread()) {
            Shutdown();
            Kelvo_LOOP_Post([](void* p) { delete static_cast<CRedundantMdClient*>(p); }, this);
            return;
        }
        CallOnLoop([this] {
            Shutdown();
            delete this;
        });
    });
}

// On the loop: nothing reaches the application from here on.
void CRedundantMdClient::Shutdown()
{
    if (released_)
        return;
    released_ = true;
    minute_.reset();
    watch_.reset();
    hold_.reset();
    faults_.Flush();
    WriteCounters("Release");
    ReleaseLinks();
    std::lock_guard<std::mutex> lock(mu_);
    session_.ForgetLogin();
}

void CRedundantMdClient::ReleaseLinks()
{
    std::lock_guard<std::mutex> lock(mu_);
    for (Link& l : links_) {
        if (l.inner)
            l.inner->Release(); // on the loop: closed at once, freed after this callback
        l.inner = nullptr;
    }
}

int CRedundantMdClient::GetLinkCounters(RedundantLinkCounters* out, int max)
{
    return AtBoundary(0, [&] {
        if (!started_ || !out || max <= 0 || Inherited())
            return 0;
        int n = 0;
        CallOnLoop([&] {
            const std::uint32_t now = Kelvo_THREAD_GetTickCount();
            std::lock_guard<std::mutex> lock(mu_);
            n = static_cast<int>(links_.size()) < max ? static_cast<int>(links_.size()) : max;
            for (int k = 0; k < n; ++k) {
                const Link& l = links_[static_cast<std::size_t>(k)];
                const ArbiterCounters& a = arbiter_.CountersOf(k);
                RedundantLinkCounters& c = out[k];
                c = RedundantLinkCounters();
                std::snprintf(c.Fronts, sizeof c.Fronts, "%s", l.fronts.c_str());
                c.Up = l.state == State::Connected || l.state == State::Usable ? 1 : 0;
                c.LoggedIn = l.state == State::Usable ? 1 : 0;
                c.LastRecordAgeMs = a.anyRecord ? static_cast<long long>(now - a.lastRecordMs) : -1;
                c.Connects = l.connects;
                c.Reconnections = l.connects > 0 ? l.connects - 1 : 0;
                c.Losses = l.losses;
                c.LoginsRefused = l.refused;
                c.LoginTimeouts = l.timeouts;
                c.Records = a.records;
                c.First = a.first;
                c.Copies = a.copies;
                c.LateCopies = a.lateCopies;
                c.Older = a.older;
                c.Held = a.held;
                c.NoticesFirst = l.noticesFirst;
                c.NoticeCopies = l.noticeCopies;
                c.LateTimed = a.lateTimed;
                for (int b = 0; b < RedundantLateBuckets; ++b)
                    c.Late[b] = a.late[b];
                c.LateMaxUs = a.lateMaxNs / 1000;
                c.LateSumUs = a.lateSumNs / 1000;
            }
        });
        return n;
    });
}

void CRedundantMdClient::RegisterLinkWatcher(RedundantLinkWatcher* watcher)
{
    AtBoundary([&] {
        if (Inherited())
            return;
        if (!started_) {
            watcher_ = watcher;
            return;
        }
        CallOnLoop([this, watcher] { watcher_ = watcher; });
    });
}

} // namespace mdlink
