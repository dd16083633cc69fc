// Every frame written one byte per send.
#pragma once

#include "FaultKit.h"

namespace mdfront {

class Trickle : public Fault {
public:
    struct Settings {
        // Every frame written one byte per send, with this delay between bytes.
        std::optional<std::chrono::microseconds> trickle_delay;
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"trickle", "MS",
                  "fault: send every frame one byte at a time, MS"
                  " milliseconds apart",
                  DurationInto(&Settings::trickle_delay, FromMillis)}},
                WhenSet<Trickle>(&Settings::trickle_delay)};
    }

    explicit Trickle(std::chrono::microseconds delay) : delay_(delay) {}
    std::optional<std::chrono::microseconds> ByteDelay() const override { return delay_; }

private:
    static std::chrono::microseconds FromMillis(double ms)
    {
        return std::chrono::microseconds(static_cast<long long>(ms * 1000.0));
    }

    std::chrono::microseconds delay_;
};

} // namespace mdfront
