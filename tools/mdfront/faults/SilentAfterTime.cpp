// Some time after accepting, the front stops sending but keeps the link.
#include "FaultKit.h"
#include "Faults.h"

namespace mdfront {

namespace {

class SilentAfterTime : public Fault {
public:
    explicit SilentAfterTime(std::chrono::milliseconds delay) : delay_(delay) {}
    void OnAccept(FaultHost& host) override
    {
        host.After(delay_, [&host] { host.GoSilent("silent-after-time fault"); });
    }

private:
    std::chrono::milliseconds delay_;
};

} // namespace

FaultKind SilentAfterTimeFault()
{
    return {{{"silent-after-seconds", "S", "fault: S seconds after accepting, stop sending"
              " anything (heartbeats unanswered) but keep the link open",
              DurationInto(&FrontFaults::silent_after_time, Millis)}},
            WhenSet<SilentAfterTime>(&FrontFaults::silent_after_time)};
}

} // namespace mdfront
