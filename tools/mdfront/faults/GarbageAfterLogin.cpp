// Random bytes right after a successful login response.
#include "FaultKit.h"
#include "Faults.h"

namespace mdfront {

namespace {

class GarbageAfterLogin : public Fault {
public:
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

} // namespace

FaultKind GarbageAfterLoginFault()
{
    return {{{"garbage-after-login", "N", "fault: send N random bytes right after a"
              " successful login response", CountInto(&FrontFaults::garbage_after_login, 1)}},
            WhenSet<GarbageAfterLogin>(&FrontFaults::garbage_after_login)};
}

} // namespace mdfront
