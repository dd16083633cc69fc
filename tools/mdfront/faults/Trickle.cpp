// Every frame written one byte per send.
#include "FaultKit.h"
#include "Faults.h"

namespace mdfront {

namespace {

class Trickle : public Fault {
public:
    explicit Trickle(std::chrono::microseconds delay) : delay_(delay) {}
    std::optional<std::chrono::microseconds> ByteDelay() const override { return delay_; }

private:
    std::chrono::microseconds delay_;
};

std::chrono::microseconds FromMillis(double ms)
{
    return std::chrono::microseconds(static_cast<long long>(ms * 1000.0));
}

} // namespace

FaultKind TrickleFault()
{
    return {{{"trickle", "MS", "fault: send every frame one byte at a time, MS"
              " milliseconds apart", DurationInto(&FrontFaults::trickle_delay, FromMillis)}},
            WhenSet<Trickle>(&FrontFaults::trickle_delay)};
}

} // namespace mdfront
