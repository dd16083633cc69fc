// Every login is answered with an error.
#include "Faults.h"

namespace mdfront {

namespace {

class RefuseLogins : public Fault {
public:
    bool RefusesLogin() const override { return true; }
};

} // namespace

FaultKind RefuseLoginsFault()
{
    return {{{"refuse-logins", nullptr, "fault: answer every login with an error",
              [](const std::string&, FrontFaults& f) { return f.refuse_logins = true; }}},
            [](const FrontFaults& f) -> std::unique_ptr<Fault> {
                if (!f.refuse_logins)
                    return nullptr;
                return std::make_unique<RefuseLogins>();
            }};
}

} // namespace mdfront
