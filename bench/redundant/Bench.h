// bench_redundant's modes.
#pragma once

namespace benchred {

struct GapOptions {
    double rate = 100;        // records a second per instrument
    double lagMs = 20;        // the second front's delay
    double warmSeconds = 10;  // before the leader goes silent
    double afterSeconds = 30; // watched after it went silent
};

struct LatencyOptions {
    double rate = 500;     // records a second per instrument
    double jitterMs = 0.5; // each front's own jitter, uniform from 0
    double seconds = 20;
    double warmSeconds = 2; // not counted
};

struct RejoinOptions {
    double rate = 500;      // records a second per instrument
    double jitterMs = 40;   // the second front's jitter, uniform from 0
    int restarts = 5;       // of the leading front
    double downSeconds = 1; // each time
    double upSeconds = 2;
    double warmSeconds = 2;
    bool silenceOther = false; // the other front silent from the first restart on
};

int RunGap(const GapOptions& o);
int RunRejoin(const RejoinOptions& o);
int RunLatency(const LatencyOptions& o);

} // namespace benchred
