// The redundant client's timers, on the loop thread: the counters once a
// minute, the links' watch (login deadlines, reconnection delays) and the
// held records' due time. Created, armed and destroyed on the loop thread.
#pragma once

#include "KelvoBase.h"

namespace mdlink {

class CRedundantMdClient;

class RedundantTimer final : public Kelvo_Timer {
public:
    using Handler = void (CRedundantMdClient::*)();

    RedundantTimer(CRedundantMdClient& client, Handler handler, const char* name)
        : client_(client), handler_(handler), name_(name)
    {}
    ~RedundantTimer() override { Clear(); }
    RedundantTimer(const RedundantTimer&) = delete;
    RedundantTimer& operator=(const RedundantTimer&) = delete;

    void Arm(unsigned int ms)
    {
        Clear();
        id_ = SetTimer(ms, 0, 0, 0, name_);
    }
    void Clear()
    {
        if (id_ != 0)
            ClearTimer(id_);
        id_ = 0;
    }
    bool Armed() const { return id_ != 0; }

    void OnTimer(unsigned int id, int, int) override
    {
        if (id != id_)
            return;
        id_ = 0;
        (client_.*handler_)();
    }

private:
    CRedundantMdClient& client_;
    const Handler handler_;
    const char* const name_;
    unsigned int id_ = 0;
};

} // namespace mdlink
