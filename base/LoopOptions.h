// How the loop thread waits for work, chosen by the application's environment
// when the loop starts:
//   MDLINK_LOOP_POLL=1   the thread polls for ready work instead of sleeping
//                        in the kernel: lower latency, one core kept busy
//   MDLINK_LOOP_CPU=<n>  the thread is pinned to CPU n
// Unset, empty or unreadable values leave the default: sleep, no pinning.
#pragma once

namespace kelvo {

struct LoopOptions {
    bool poll = false;
    int cpu = -1; // -1: not pinned
};

// From the two variables' texts (null when unset).
LoopOptions ParseLoopOptions(const char* poll, const char* cpu);

// From this process's environment.
LoopOptions LoopOptionsFromEnvironment();

} // namespace kelvo
