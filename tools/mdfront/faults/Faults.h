// The registry's entries, one per source file in this folder.
#pragma once

#include "Fault.h"

namespace mdfront {

FaultKind SilentAfterTimeFault();
FaultKind SilentAfterFramesFault();
FaultKind CloseAfterFramesFault();
FaultKind CloseMidBodyFault();
FaultKind RefuseLoginsFault();
FaultKind UnknownFramesFault();
FaultKind GarbageAfterLoginFault();
FaultKind AnnounceBodyFault();
FaultKind BigBodyFault();
FaultKind TrickleFault();
FaultKind ShortBodiesFault();

} // namespace mdfront
