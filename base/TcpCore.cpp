#include "TcpCore.h"

#include "KelvoBase.h"
#include "Loop.h"
#include "Reasons.h"
#include "TcpLink.h"
#include "TimeScale.h"
#include "inline/ForcedUnwind.h"

namespace kelvo {

TcpCore::TcpCore(Kelvo_TcpClientHandler* handler)
    : m_handler(handler), m_retryTimer(Loop::Get().Context())
{
}

TcpCore::~TcpCore() = default;

void TcpCore::Connect(const std::string& host, int port)
{
    Close();
    m_host = host;
    m_port = port;
    StartAttempt();
}

void TcpCore::Close()
{
    EndLink();
    m_retryPending = false;
    m_redirect = false;
    m_retryTimer.cancel();
}

void TcpCore::Detach()
{
    Close();
    m_handler = nullptr;
}

void TcpCore::Abort()
{
    if (!m_live)
        return;
    const bool wasConnected = m_live->Connected();
    EndLink();
    // OnDisConnect comes from the loop, after the callback that aborted; a
    // Close or Connect before then supersedes it.
    const std::uint64_t gen = m_gen;
    std::shared_ptr<TcpCore> self = shared_from_this();
    Loop::Get().Post([self, gen, wasConnected] {
        if (self->m_gen == gen)
            self->Report(ReasonAborted(), wasConnected);
    });
}

void TcpCore::SetReconnectAddr(const std::string& host, int port)
{
    m_redirect = true;
    m_redirectHost = host;
    m_redirectPort = port;
}

int TcpCore::Send(Kelvo_String*& frame)
{
    if (frame == nullptr)
        return 0;
    std::shared_ptr<TcpLink> kick;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        if (!m_live)
            return 0;
        const TcpLink::Enqueued result = m_live->Enqueue(frame);
        if (result == TcpLink::Enqueued::Refused)
            return 0;
        if (result == TcpLink::Enqueued::StartWrite)
            kick = m_live;
    }
    if (kick)
        Loop::Get().Post([kick] { kick->StartWrite(); });
    return 1;
}

void TcpCore::StartAttempt()
{
    auto link = std::make_shared<TcpLink>(shared_from_this(), ++m_gen);
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_live = link;
    }
    link->Start(m_host, m_port);
}

void TcpCore::EndLink()
{
    ++m_gen;
    std::shared_ptr<TcpLink> link;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        link.swap(m_live);
    }
    // Its pending operations complete as stale; its frames go with it.
    if (link) {
        link->SetConnected(false);
        link->Shutdown();
    }
}

void TcpCore::LinkUp(TcpLink& link)
{
    link.SetConnected(true);
    if (m_handler == nullptr)
        return;
    try {
        m_handler->OnConnectOk();
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...) {
        LinkLost(link, ReasonAborted());
        return;
    }
    if (link.Alive())
        link.StartRead();
}

void TcpCore::LinkLost(TcpLink& link, int reason)
{
    // A link reports its loss once: whatever reports second finds it stale.
    if (!link.Alive())
        return;
    const bool wasConnected = link.Connected();
    EndLink();
    Report(reason, wasConnected);
}

void TcpCore::Report(int reason, bool wasConnected)
{
    if (m_handler == nullptr)
        return;
    // Keeps this alive should the handler be destroyed inside the callback.
    std::shared_ptr<TcpCore> self = shared_from_this();
    const std::uint64_t gen = m_gen;
    m_redirect = false;
    int delay = 0;
    try {
        delay = wasConnected ? m_handler->OnDisConnect(nullptr, reason)
                             : m_handler->OnConnectFaild(nullptr, reason);
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...) {
        // The handler's answer is lost; the link must not be.
        delay = KELVO_RECONNECT_AFTER_THROW_MS;
    }
    // Closed, re-connected or destroyed inside the callback: it decided.
    if (m_handler == nullptr || m_gen != gen) {
        m_redirect = false;
        return;
    }
    if (delay > 0) {
        if (m_redirect) {
            m_host = m_redirectHost;
            m_port = m_redirectPort;
        }
        ScheduleRetry(delay);
    }
    m_redirect = false;
}

void TcpCore::ScheduleRetry(int delayMs)
{
    m_retryPending = true;
    m_retryTimer.expires_after(ScaledDelay(static_cast<std::uint64_t>(delayMs)));
    std::shared_ptr<TcpCore> self = shared_from_this();
    const std::uint64_t gen = m_gen;
    m_retryTimer.async_wait([self, gen](const asio::error_code&) {
        if (self->m_gen != gen || !self->m_retryPending)
            return;
        self->m_retryPending = false;
        self->StartAttempt();
    });
}

}  // namespace kelvo
