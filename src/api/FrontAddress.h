// Front address texts: a six-character scheme prefix, the host, ':' and the
// decimal port, as in "tcp://10.1.2.3:7000".
#pragma once

#include "KelvoBase.h"

#include <memory>

namespace mdlink {

// The address, or null when the text has no ':' past the prefix, a host of
// more than 127 characters, or a port outside 0..65535.
std::unique_ptr<Kelvo_SocketAddr> ParseFrontAddress(const char* text);

} // namespace mdlink
