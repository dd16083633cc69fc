// Some time after accepting, the front stops sending but keeps the link.
#pragma once

#include "FaultKit.h"

namespace mdfront {

class SilentAfterTime : public Fault {
public:
    struct Settings {
        // Stop sending anything (heartbeats unanswered, no data) but keep the
        // link open and keep reading.
        std::optional<std::chrono::milliseconds> silent_after_time;
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"silent-after-seconds", "S",
                  "fault: S seconds after accepting, stop sending"
                  " anything (heartbeats unanswered) but keep the link open",
                  DurationInto(&Settings::silent_after_time, Millis)}},
                WhenSet<SilentAfterTime>(&Settings::silent_after_time)};
    }

    explicit SilentAfterTime(std::chrono::milliseconds delay) : delay_(delay) {}
    void OnAccept(FaultHost& host) override
    {
        host.After(delay_, [&host] { host.GoSilent("silent-after-time fault"); });
    }

private:
    std::chrono::milliseconds delay_;
};

} // namespace mdfront
