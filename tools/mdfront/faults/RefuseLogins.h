// Every login is answered with an error.
#pragma once

#include "FaultKit.h"

namespace mdfront {

class RefuseLogins : public Fault {
public:
    struct Settings {
        bool refuse_logins = false;
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"refuse-logins", nullptr, "fault: answer every login with an error",
                  [](const std::string&, Settings& f) { return f.refuse_logins = true; }}},
                WhenSet<RefuseLogins>(&Settings::refuse_logins)};
    }

    explicit RefuseLogins(bool) {}
    bool RefusesLogin() const override { return true; }
};

} // namespace mdfront
