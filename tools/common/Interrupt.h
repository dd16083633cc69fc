// Ctrl-C (and termination requests) turn into a flag that the main loop of a
// tool polls; the handler itself does nothing else.
#pragma once

namespace mdtools {

void InstallInterruptHandler();
bool Interrupted();

} // namespace mdtools
