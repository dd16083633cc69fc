// Frames on their way to the write queue: at once, or held back by the
// delay line until they are due.
#include "FrontSession.h"

namespace mdfront {

void FrontSession::Enqueue(Queued q)
{
    if (!delayed_.Active()) {
        queue_.push_back(std::move(q));
        WriteNext();
        return;
    }
    delayed_.Push(std::chrono::steady_clock::now(), std::move(q));
    ArmDelayTimer();
}

void FrontSession::ArmDelayTimer()
{
    if (delayArmed_ || delayed_.Empty() || closed_)
        return;
    delayArmed_ = true;
    delayTimer_.expires_at(delayed_.NextDue());
    auto self = shared_from_this();
    delayTimer_.async_wait([self](const asio::error_code& e) {
        self->delayArmed_ = false;
        if (e || self->closed_)
            return;
        self->delayed_.Release(std::chrono::steady_clock::now(),
                               [&self](Queued q) { self->queue_.push_back(std::move(q)); });
        self->WriteNext();
        self->ArmDelayTimer();
    });
}

} // namespace mdfront
