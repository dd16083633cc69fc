// What the soak's driver does with a client, whatever its kind: a single
// client of the library (Client.h) or a redundant one on a pair of fronts
// serving one feed (PairClient.h).
#pragma once

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
    virtual void ArmThrows(int count) = 0;
    virtual void ArmBlock(int ms) = 0;
    virtual void ArmReleaseInCallback() = 0;
};

} // namespace soak
