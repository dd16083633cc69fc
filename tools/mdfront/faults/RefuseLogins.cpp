// Every login is answered with an error.
#include "FaultKit.h"
#include "Faults.h"

namespace mdfront {

namespace {

class RefuseLogins : public Fault {
public:
    explicit RefuseLogins(bool) {}
    bool RefusesLogin() const override { return true; }
};

} // namespace

FaultKind RefuseLoginsFault()
{
    return {{{"refuse-logins", nullptr, "fault: answer every login with an error",
              [](const std::string&, FrontFaults& f) { return f.refuse_logins = true; }}},
            WhenSet<RefuseLogins>(&FrontFaults::refuse_logins)};
}

} // namespace mdfront
