// Counting heap allocations made on one thread (the library's loop thread),
// through every malloc of the process.
#pragma once

namespace bench {

// False where allocations cannot be counted (not glibc, or a sanitizer owns
// malloc).
bool CanCountAllocations();
// Starts counting the calling thread's allocations from zero.
void StartCountingHere();
// Stops counting; returns how many allocations were seen.
long StopCounting();

// Resident memory of the process, in KiB (0 where unknown).
long ResidentKiB();

} // namespace bench
