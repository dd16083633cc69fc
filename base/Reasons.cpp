#include "Reasons.h"

#include <asio/error.hpp>

#include <cerrno>

namespace kelvo {

int ReasonOf(const asio::error_code& ec)
{
    if (!ec || ec == asio::error::eof)
        return 0;
    if (ec == asio::error::not_found || ec.category() == asio::error::get_netdb_category() ||
        ec.category() == asio::error::get_addrinfo_category())
        return ReasonHostNotFound();
    if (ec.category() == asio::system_category())
        return ec.value();
    // Asio's own codes (misc category) have no platform number; any of them
    // here means the link is unusable.
    return asio::error::connection_reset;
}

int ReasonAborted()
{
    return asio::error::connection_aborted;
}

int ReasonTimedOut()
{
    return asio::error::timed_out;
}

int ReasonMessageSize()
{
    return asio::error::message_size;
}

int ReasonHostNotFound()
{
#ifdef _WIN32
    return asio::error::host_not_found;  // WSAHOST_NOT_FOUND
#else
    return ENXIO;
#endif
}

int ReasonInvalid()
{
    return asio::error::invalid_argument;
}

}  // namespace kelvo
