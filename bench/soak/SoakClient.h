// What the soak's driver does with a client, whatever its kind: a single
// client of the library (Client.h) or a redundant one on a pair of fronts
// serving one feed (PairClient.h).
#pragma once

#include <atomic>

namespace soak {

class SoakClient {
public:
    virtual ~SoakClient() = default;

    // Driver thread, with the slot locked.
    virtual void Start() = 0;
    // atEnd: the soak's own teardown, not counted as misbehaviour.
    virtual void ReleaseFromThread(bool atEnd = false) = 0;
    virtual void SwitchSpi() = 0;

    // Any thread: what the next callbacks do wrong.
    void ArmThrows(int count) { throwBudget_.fetch_add(count); }
    void ArmBlock(int ms) { blockMs_.store(ms); }
    void ArmReleaseInCallback() { releaseInCallback_.store(true); }

protected:
    // Callbacks take what was armed, each fault once.
    // The throw budget before this one was taken, 0 when none was left.
    int TakeThrow()
    {
        int budget = throwBudget_.load();
        while (budget > 0 && !throwBudget_.compare_exchange_weak(budget, budget - 1)) {}
        return budget > 0 ? budget : 0;
    }
    int TakeBlockMs() { return blockMs_.exchange(0); }
    bool TakeReleaseInCallback() { return releaseInCallback_.exchange(false); }

private:
    std::atomic<int> throwBudget_{0};
    std::atomic<int> blockMs_{0};
    std::atomic<bool> releaseInCallback_{false};
};

} // namespace soak
