// mdcap's commands over capture files. Each writes its results to out and
// its faults ("FILE: at offset N: why") to err, and returns the exit code:
// 0, or 1 when any file could not be read whole.
#pragma once

#include "CapOptions.h"

#include <ostream>

namespace mdcap {

int Info(const CapOptions& options, std::ostream& out, std::ostream& err);
int Cat(const CapOptions& options, std::ostream& out, std::ostream& err);
int Verify(const CapOptions& options, std::ostream& out, std::ostream& err);
int Cut(const CapOptions& options, std::ostream& out, std::ostream& err);
int Merge(const CapOptions& options, std::ostream& out, std::ostream& err);

// The command options.command names.
int Run(const CapOptions& options, std::ostream& out, std::ostream& err);

// What mdcap writes in the headers of the files it makes.
extern const char* const WriterName;

} // namespace mdcap
