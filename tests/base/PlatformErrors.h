// The error numbers that OnConnectFaild / OnDisConnect report: errno values
// on Linux, WinSock codes on Windows (written out, to keep WinSock's headers
// out of the tests).
#pragma once

#include <cerrno>

namespace kelvotest {

#ifdef _WIN32
constexpr int kConnRefused = 10061;  // WSAECONNREFUSED
constexpr int kConnAborted = 10053;  // WSAECONNABORTED
constexpr int kInvalid = 10022;      // WSAEINVAL
constexpr int kMessageSize = 10040;  // WSAEMSGSIZE
constexpr int kTimedOut = 10060;     // WSAETIMEDOUT
constexpr int kHostNotFound = 11001; // WSAHOST_NOT_FOUND
#else
constexpr int kConnRefused = ECONNREFUSED;
constexpr int kConnAborted = ECONNABORTED;
constexpr int kInvalid = EINVAL;
constexpr int kMessageSize = EMSGSIZE;
constexpr int kTimedOut = ETIMEDOUT;
constexpr int kHostNotFound = ENXIO;
#endif

} // namespace kelvotest
