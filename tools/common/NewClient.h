// The client a tool runs its session on: the shared library's own, or with
// --links N the redundant client from its static library over N of them.
// A library of its own (mdtools_client): it links the client libraries.
#pragma once

#include "MdApi.h"
#include "RedundantMdApi.h"

namespace mdtools {

// links 0: whatever MDLINK_LINKS makes of the library's client; 1: one link;
// 2 to 8: the redundant client, also returned in redundant (else null).
CThostFtdcMdApi* NewClient(int links, mdlink::CRedundantMdApi*& redundant);

} // namespace mdtools
