// Some time after accepting, the front stops sending but keeps the link.
#include "FaultFlags.h"
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

bool ParseSeconds(const std::string& v, FrontFaults& f)
{
    double s;
    if (!NonNegative(v, s))
        return false;
    f.silent_after_time = Millis(s);
    return true;
}

} // namespace

FaultKind SilentAfterTimeFault()
{
    return {{{"silent-after-seconds", "S", "fault: S seconds after accepting, stop sending"
              " anything (heartbeats unanswered) but keep the link open", ParseSeconds}},
            [](const FrontFaults& f) -> std::unique_ptr<Fault> {
                if (!f.silent_after_time)
                    return nullptr;
                return std::make_unique<SilentAfterTime>(*f.silent_after_time);
            }};
}

} // namespace mdfront
