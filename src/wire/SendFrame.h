// Building an outgoing frame and handing it to the connection.
#pragma once

#include "KelvoBase.h"
#include "wire/FrameHeader.h"

namespace mdlink {

// Builds one heap frame (the header's 24 bytes, then length bytes of body) and
// hands it to the connection's SendData. Returns what SendData returned; on 0
// the frame is destroyed here, otherwise it belongs to the connection.
int SendFrame(Kelvo_TcpClientHandler& connection, const FrameHeader& header, const void* body, int length);

} // namespace mdlink
