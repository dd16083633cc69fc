#include "FakeBase.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

struct Kelvo_ConnState {
    std::string unread;
    std::size_t taken = 0; // bytes of unread already handed to the handler
    bool connected = false;
    bool stopped = false; // closed or aborted: stop offering bytes
};

struct Kelvo_TimerState {};

struct Kelvo_LogState {};

namespace fake {

World& World::Get()
{
    static World world;
    return world;
}

void World::Reset()
{
    connects.clear();
    closes.clear();
    reconnectAddrs.clear();
    aborts.clear();
    sent.clear();
    sendScript.clear();
    sendResult = 1;
    refusedSends = 0;
    sendCost = 0;
    sets.clear();
    clears.clear();
    lines.clear();
    posted.clear();
    loopCalls = 0;
    failLoopCalls = false;
    failSetTimer = false;
    inLoop = false;
    // The set-ups of logs that are gone; those still alive stay.
    logs.erase(
        std::remove_if(logs.begin(), logs.end(), [](const LogSetup& setup) { return setup.log == nullptr; }),
        logs.end());
}

void World::Restart()
{
    Reset();
    pending.clear();
    now = 0;
    recordLines = true;
}

LogSetup& World::SetupOf(const Kelvo_Log* log)
{
    for (LogSetup& setup : logs)
        if (setup.log == log)
            return setup;
    throw std::logic_error("a log the fake does not know");
}

void World::Advance(std::uint64_t ms)
{
    const std::uint64_t target = now + ms;
    for (;;) {
        auto next = std::min_element(pending.begin(), pending.end(),
                                     [](const PendingTimer& a, const PendingTimer& b) {
                                         return a.due < b.due || (a.due == b.due && a.id < b.id);
                                     });
        if (next == pending.end() || next->due > target)
            break;
        const PendingTimer fired = *next;
        pending.erase(next);
        now = fired.due;
        InLoop([&] { fired.owner->OnTimer(fired.id, 0, fired.user); });
    }
    now = target;
}

std::vector<PendingTimer> World::PendingOf(const Kelvo_Timer* owner) const
{
    std::vector<PendingTimer> out;
    for (const PendingTimer& t : pending)
        if (t.owner == owner)
            out.push_back(t);
    return out;
}

std::vector<std::string> World::LinesOf(const Kelvo_Log* log) const
{
    std::vector<std::string> out;
    for (const TraceLine& line : lines)
        if (line.log == log)
            out.push_back(line.text);
    return out;
}

std::vector<std::string> World::Texts() const
{
    std::vector<std::string> out;
    for (const TraceLine& line : lines)
        out.push_back(line.text);
    return out;
}

void World::RunPosted()
{
    while (!posted.empty()) {
        std::vector<std::function<void()>> batch;
        batch.swap(posted);
        for (auto& fn : batch)
            InLoop(fn);
    }
}

namespace {

// The handler's own state, reached through its protected member: no lookup,
// which matters to the fuzz targets that feed millions of chunks.
struct StateAccess : Kelvo_TcpClientHandler {
    static Kelvo_ConnState* Of(const Kelvo_TcpClientHandler* handler)
    {
        return handler->*(&StateAccess::m_conn);
    }
};

Kelvo_ConnState* StateOf(const Kelvo_TcpClientHandler* handler)
{
    return StateAccess::Of(handler);
}

// InLoop without a std::function, for the per-chunk path.
template <class Fn>
void PlayLoop(Fn&& fn)
{
    World& w = World::Get();
    const bool was = w.inLoop;
    w.inLoop = true;
    fn();
    w.inLoop = was;
}

void Forget(Kelvo_ConnState* state)
{
    state->unread.clear();
    state->taken = 0;
}

} // namespace

void InLoop(const std::function<void()>& fn)
{
    PlayLoop(fn);
}

void ConnectOk(Kelvo_TcpClientHandler* handler)
{
    StateOf(handler)->connected = true;
    PlayLoop([&] { handler->OnConnectOk(); });
}

int ConnectFail(Kelvo_TcpClientHandler* handler, int reason)
{
    Forget(StateOf(handler));
    StateOf(handler)->connected = false;
    int delay = 0;
    PlayLoop([&] { delay = handler->OnConnectFaild(nullptr, reason); });
    return delay;
}

int Disconnect(Kelvo_TcpClientHandler* handler, int reason)
{
    // The link is gone, and with it whatever it had delivered.
    Forget(StateOf(handler));
    StateOf(handler)->connected = false;
    int delay = 0;
    PlayLoop([&] { delay = handler->OnDisConnect(nullptr, reason); });
    return delay;
}

namespace {

void Offer(Kelvo_TcpClientHandler* handler)
{
    Kelvo_ConnState* state = StateOf(handler);
    state->stopped = false;
    while (!state->stopped) {
        long size = static_cast<long>(state->unread.size() - state->taken);
        char* buffer = handler->OnRecvBuffer(size);
        if (size == 0)
            break;
        if (size < 0 || static_cast<std::size_t>(size) > state->unread.size() - state->taken)
            throw std::logic_error("OnRecvBuffer asked for bytes that are not ready");
        std::memcpy(buffer, state->unread.data() + state->taken, static_cast<std::size_t>(size));
        state->taken += static_cast<std::size_t>(size);
        handler->OnRecvData(buffer, size);
    }
    // Taken bytes are dropped once all are taken, or once more than 4 KiB
    // are (a long scripted stream would otherwise grow without end).
    if (state->taken == state->unread.size() || state->taken > 4096) {
        state->unread.erase(0, state->taken);
        state->taken = 0;
    }
}

} // namespace

void Feed(Kelvo_TcpClientHandler* handler, const char* bytes, std::size_t size)
{
    StateOf(handler)->unread.append(bytes, size);
    PlayLoop([&] { Offer(handler); });
}

void Feed(Kelvo_TcpClientHandler* handler, const std::string& bytes)
{
    Feed(handler, bytes.data(), bytes.size());
}

void FeedChunked(Kelvo_TcpClientHandler* handler, const std::string& bytes,
                 const std::vector<std::size_t>& chunks)
{
    std::size_t at = 0;
    std::size_t i = 0;
    while (at < bytes.size()) {
        const std::size_t n = std::min(chunks[std::min(i, chunks.size() - 1)], bytes.size() - at);
        Feed(handler, bytes.data() + at, n);
        at += n;
        ++i;
    }
}

std::size_t Unread(const Kelvo_TcpClientHandler* handler)
{
    const Kelvo_ConnState* state = StateOf(handler);
    return state->unread.size() - state->taken;
}

bool IsConnected(const Kelvo_TcpClientHandler* handler)
{
    return StateOf(handler)->connected;
}

} // namespace fake

using fake::World;

// ---- Kelvo_SocketHandlerObj / Kelvo_TcpClientHandler ----

Kelvo_SocketHandlerObj::Kelvo_SocketHandlerObj() : m_conn(new Kelvo_ConnState)
{}

Kelvo_SocketHandlerObj::~Kelvo_SocketHandlerObj()
{
    delete m_conn;
}

Kelvo_TcpClientHandler::Kelvo_TcpClientHandler()
{
    World::Get().handlers.push_back(this);
}

Kelvo_TcpClientHandler::~Kelvo_TcpClientHandler()
{
    auto& all = World::Get().handlers;
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

char* Kelvo_TcpClientHandler::OnRecvBuffer(long& size)
{
    size = 0;
    return nullptr;
}

void Kelvo_TcpClientHandler::OnConnectOk()
{}

int Kelvo_TcpClientHandler::OnConnectFaild(void*, int)
{
    return 0;
}

int Kelvo_TcpClientHandler::OnDisConnect(void*, int)
{
    return 0;
}

int Kelvo_TcpClientHandler::OnRecvData(char*, long)
{
    return 0;
}

int Kelvo_TcpClientHandler::Connect(const char* host, int port)
{
    if (!host)
        return -1;
    World::Get().connects.push_back({this, host, port});
    fake::Forget(m_conn);
    // Attempting: connected once the test delivers ConnectOk.
    m_conn->connected = false;
    return 0;
}

int Kelvo_TcpClientHandler::Close()
{
    World::Get().closes.push_back(this);
    fake::Forget(m_conn);
    m_conn->connected = false;
    m_conn->stopped = true;
    return 0;
}

int Kelvo_TcpClientHandler::SendData(Kelvo_String*& frame)
{
    World& w = World::Get();
    w.now += w.sendCost;
    // As the real base layer: nothing is taken while not connected.
    if (!frame || !m_conn->connected)
        return 0;
    int result = w.sendResult;
    if (!w.sendScript.empty()) {
        result = w.sendScript.front();
        w.sendScript.pop_front();
    }
    if (result == 0) {
        ++w.refusedSends;
        return 0;
    }
    w.sent.push_back({this, std::string(frame->c_str(), static_cast<std::size_t>(frame->length()))});
    delete frame;
    frame = nullptr;
    return result;
}

void Kelvo_TcpClientHandler::Abort()
{
    World::Get().aborts.push_back(this);
    fake::Forget(m_conn);
    m_conn->connected = false;
    m_conn->stopped = true;
}

void Kelvo_TcpClientHandler::SetReconnectAddr(const char* host, int port)
{
    World::Get().reconnectAddrs.push_back({this, host ? host : "", port});
}

// ---- Kelvo_Timer ----

Kelvo_Timer::Kelvo_Timer() : m_state(nullptr)
{}

Kelvo_Timer::~Kelvo_Timer()
{
    auto& pending = World::Get().pending;
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [this](const fake::PendingTimer& t) { return t.owner == this; }),
                  pending.end());
}

void Kelvo_Timer::OnTimer(unsigned int, int, int)
{}

unsigned int Kelvo_Timer::SetTimer(unsigned int ms, int user, int, int, const char*)
{
    World& w = World::Get();
    if (w.failSetTimer)
        throw std::bad_alloc();
    unsigned int id = ++w.nextTimerId;
    if (id == 0)
        id = ++w.nextTimerId;
    w.sets.push_back({this, id, ms, user});
    w.pending.push_back({this, id, user, w.now + ms});
    return id;
}

void Kelvo_Timer::ClearTimer(unsigned int id)
{
    World& w = World::Get();
    w.clears.push_back({this, id, 0, 0});
    w.pending.erase(
        std::remove_if(w.pending.begin(), w.pending.end(),
                       [&](const fake::PendingTimer& t) { return t.id == id && t.owner == this; }),
        w.pending.end());
}

// ---- Kelvo_Log ----

Kelvo_Log::Kelvo_Log(int mode) : m_state(new Kelvo_LogState)
{
    World::Get().logs.push_back({this, mode, "", "", 0});
}

Kelvo_Log::~Kelvo_Log()
{
    World::Get().SetupOf(this).log = nullptr;
    delete m_state;
}

int Kelvo_Log::SetMainDir(const char* dir)
{
    World::Get().SetupOf(this).dir = dir ? dir : "";
    return 0;
}

int Kelvo_Log::Init(const char* name, int keepDays)
{
    fake::LogSetup& setup = World::Get().SetupOf(this);
    setup.name = name ? name : "";
    setup.keepDays = keepDays;
    return 0;
}

void Kelvo_Log::Trace(int level, const char* format, ...)
{
    if (!World::Get().recordLines)
        return;
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    World::Get().lines.push_back({this, level, text});
}

// ---- the loop and the clock ----

extern "C" {

unsigned int Kelvo_THREAD_GetTickCount(void)
{
    return static_cast<unsigned int>(World::Get().now);
}

int Kelvo_LOOP_InThread(void)
{
    return World::Get().inLoop ? 1 : 0;
}

void Kelvo_LOOP_Post(void (*fn)(void*), void* arg)
{
    World::Get().posted.push_back([fn, arg] { fn(arg); });
}

unsigned int Kelvo_LOOP_Generation(void)
{
    return World::Get().forkGeneration;
}

void Kelvo_LOOP_Call(void (*fn)(void*), void* arg)
{
    if (World::Get().failLoopCalls)
        throw std::bad_alloc();
    ++World::Get().loopCalls;
    fake::InLoop([&] { fn(arg); });
}
}
