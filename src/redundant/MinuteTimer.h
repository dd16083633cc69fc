// Once a minute on the loop: the redundant client's counters to its log.
// Created, armed and destroyed on the loop thread.
#pragma once

#include "KelvoBase.h"

namespace mdlink {

class CRedundantMdClient;

class MinuteTimer final : public Kelvo_Timer {
public:
    static constexpr unsigned int PeriodMs = 60 * 1000;

    explicit MinuteTimer(CRedundantMdClient& client) : client_(client) {}
    ~MinuteTimer() override { ClearTimer(id_); }
    MinuteTimer(const MinuteTimer&) = delete;
    MinuteTimer& operator=(const MinuteTimer&) = delete;

    void Arm() { id_ = SetTimer(PeriodMs, 0, 0, 0, "redundant counters"); }
    void OnTimer(unsigned int id, int, int) override;

private:
    CRedundantMdClient& client_;
    unsigned int id_ = 0;
};

} // namespace mdlink
