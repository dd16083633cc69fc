// The client a tool runs its session on: the shared library's own, or with
// --links N the redundant client from its static library over N of them.
// Compiled into each program (not into mdcli_core, which links no client).
#pragma once

#include "MdApi.h"
#include "RedundantMdApi.h"

namespace mdcli {

// links 0: whatever MDLINK_LINKS makes of the library's client; 1: one link;
// 2 to 8: the redundant client, also returned in redundant (else null).
CThostFtdcMdApi* NewClient(int links, mdlink::CRedundantMdApi*& redundant);

} // namespace mdcli
