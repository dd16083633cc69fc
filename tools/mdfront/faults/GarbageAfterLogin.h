// Random bytes right after a successful login response.
#pragma once

#include "FaultKit.h"

namespace mdfront {

class GarbageAfterLogin : public Fault {
public:
    struct Settings {
        // Random bytes written right after a successful login response.
        std::size_t garbage_after_login = 0;
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"garbage-after-login", "N",
                  "fault: send N random bytes right after a"
                  " successful login response",
                  CountInto(&Settings::garbage_after_login, 1)}},
                WhenSet<GarbageAfterLogin>(&Settings::garbage_after_login)};
    }

    explicit GarbageAfterLogin(std::size_t bytes) : bytes_(bytes) {}
    void AfterLogin(FaultHost& host) override
    {
        if (!host.Sending())
            return;
        SentFrame rec;
        rec.kind = SentKind::Garbage;
        host.QueueFaultBytes(host.RandomBytes(bytes_), std::move(rec), "garbage-after-login fault");
    }

private:
    std::size_t bytes_;
};

} // namespace mdfront
