#include "TcpCore.h"

#include "KelvoBase.h"
#include "Loop.h"
#include "Reasons.h"
#include "TcpLink.h"
#include "TimeScale.h"
#include "inline/ForcedUnwind.h"

namespace kelvo {

TcpCore::TcpCore(Kelvo_TcpClientHandler* handler) : handler_(handler), retryTimer_(Loop::Get().Context())
{}

TcpCore::~TcpCore() = default;

void TcpCore::Connect(const std::string& host, int port)
{
    Close();
    host_ = host;
    port_ = port;
    StartAttempt();
}

void TcpCore::Close()
{
    EndLink();
    retryPending_ = false;
    redirect_ = false;
    retryTimer_.cancel();
}

void TcpCore::Detach()
{
    Close();
    handler_ = nullptr;
}

void TcpCore::Abort()
{
    if (!live_)
        return;
    const bool wasConnected = live_->Connected();
    EndLink();
    // OnDisConnect comes from the loop, after the callback that aborted; a
    // Close or Connect before then supersedes it.
    const std::uint64_t gen = gen_;
    std::shared_ptr<TcpCore> self = shared_from_this();
    Loop::Get().Post([self, gen, wasConnected] {
        if (self->gen_ == gen)
            self->Report(ReasonAborted(), wasConnected);
    });
}

void TcpCore::SetReconnectAddr(const std::string& host, int port)
{
    redirect_ = true;
    redirectHost_ = host;
    redirectPort_ = port;
}

int TcpCore::Send(Kelvo_String*& frame)
{
    if (frame == nullptr)
        return 0;
    std::shared_ptr<TcpLink> kick;
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        if (!live_)
            return 0;
        const TcpLink::Enqueued result = live_->Enqueue(frame);
        if (result == TcpLink::Enqueued::Refused)
            return 0;
        if (result == TcpLink::Enqueued::StartWrite)
            kick = live_;
    }
    if (kick)
        Loop::Get().Post([kick] { kick->StartWrite(); });
    return 1;
}

void TcpCore::StartAttempt()
{
    auto link = std::make_shared<TcpLink>(shared_from_this(), ++gen_);
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        live_ = link;
    }
    link->Start(host_, port_);
}

void TcpCore::EndLink()
{
    ++gen_;
    std::shared_ptr<TcpLink> link;
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        link.swap(live_);
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
    if (handler_ == nullptr)
        return;
    try {
        handler_->OnConnectOk();
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...)
    {
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
    if (handler_ == nullptr)
        return;
    // Keeps this alive should the handler be destroyed inside the callback.
    std::shared_ptr<TcpCore> self = shared_from_this();
    const std::uint64_t gen = gen_;
    redirect_ = false;
    int delay = 0;
    try {
        delay = wasConnected ? handler_->OnDisConnect(nullptr, reason)
                             : handler_->OnConnectFaild(nullptr, reason);
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...)
    {
        // The handler's answer is lost; the link must not be.
        delay = KELVO_RECONNECT_AFTER_THROW_MS;
    }
    // Closed, re-connected or destroyed inside the callback: it decided.
    if (handler_ == nullptr || gen_ != gen) {
        redirect_ = false;
        return;
    }
    if (delay > 0) {
        if (redirect_) {
            host_ = redirectHost_;
            port_ = redirectPort_;
        }
        ScheduleRetry(delay);
    }
    redirect_ = false;
}

void TcpCore::ScheduleRetry(int delayMs)
{
    retryPending_ = true;
    retryTimer_.expires_after(ScaledDelay(static_cast<std::uint64_t>(delayMs)));
    std::shared_ptr<TcpCore> self = shared_from_this();
    const std::uint64_t gen = gen_;
    retryTimer_.async_wait([self, gen](const asio::error_code&) {
        if (self->gen_ != gen || !self->retryPending_)
            return;
        self->retryPending_ = false;
        self->StartAttempt();
    });
}

} // namespace kelvo
