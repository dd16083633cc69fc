// Every frame written one byte per send.
#include "FaultFlags.h"
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

bool ParseMillis(const std::string& v, FrontFaults& f)
{
    double ms;
    if (!NonNegative(v, ms))
        return false;
    f.trickle_delay = std::chrono::microseconds(static_cast<long long>(ms * 1000.0));
    return true;
}

} // namespace

FaultKind TrickleFault()
{
    return {{{"trickle", "MS", "fault: send every frame one byte at a time, MS"
              " milliseconds apart", ParseMillis}},
            [](const FrontFaults& f) -> std::unique_ptr<Fault> {
                if (!f.trickle_delay)
                    return nullptr;
                return std::make_unique<Trickle>(*f.trickle_delay);
            }};
}

} // namespace mdfront
