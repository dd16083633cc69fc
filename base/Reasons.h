// Reasons given to OnConnectFaild / OnDisConnect: the platform's error
// numbers (errno on Linux, WinSock codes on Windows), 0 for an orderly close
// by the peer.
#pragma once

#include <asio/error_code.hpp>

namespace kelvo {

int ReasonOf(const asio::error_code& ec);

int ReasonAborted();      // ECONNABORTED / WSAECONNABORTED
int ReasonTimedOut();     // ETIMEDOUT / WSAETIMEDOUT
int ReasonMessageSize();  // EMSGSIZE / WSAEMSGSIZE
int ReasonHostNotFound(); // ENXIO / WSAHOST_NOT_FOUND
int ReasonInvalid();      // EINVAL / WSAEINVAL

} // namespace kelvo
