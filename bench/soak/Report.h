// The soak's verdict: every invariant against what was counted, printed as
// one table.
#pragma once

#include "FrontProcess.h"
#include "Options.h"
#include "Process.h"
#include "Tally.h"

#include <array>
#include <cstdint>
#include <vector>

namespace soak {

struct RunFigures {
    FrontCounts fronts;

    bool resourcesChecked = false;
    ProcessFigures base;                      // before the fronts and clients
    ProcessFigures warm;                      // after the warm-up, every client released
    ProcessFigures end;                       // at the end of the run, every client released
    ProcessFigures warmInFlight, endInFlight; // the same moments, just before the releases
    ProcessFigures after;                     // everything released and stopped

    ThrowRecords logged;

    // The probe client's longest gap between two records, and its records.
    double probeGapMs = 0;
    double probeGapAt = 0; // seconds into the run
    std::uint64_t probeRecords = 0;

    // Flood mode: records per client at the first window's start and at the end.
    std::vector<std::uint64_t> floodFrom, floodTo;
    double floodSeconds = 0;
    std::uint64_t windows = 0;
    std::uint64_t starvedWindows = 0;
};

// What may grow from the warm-up to the end, clients released: the heap in
// use (what the clients could hold), and resident anonymous memory, which
// also counts what the C library keeps for reuse and does not give back (the
// stacks of threads that ended, arenas' free pages), so it moves by a few
// hundred KiB from run to run with no client holding anything.
constexpr std::uint64_t MaxHeapGrowthBytes = 1u << 20;
constexpr std::uint64_t MaxResidentGrowthBytes = 4u << 20;

// Prints the table; returns 0 when every invariant held, 1 otherwise.
int Print(const Options& o, Tally& t, const RunFigures& f);

} // namespace soak
