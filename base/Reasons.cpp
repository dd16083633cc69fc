#include "Reasons.h"

#include <asio/error.hpp>

#include <cerrno>

namespace kelvo {

int ReasonOf(const asio::error_code& ec)
{
    if (!ec || ec == asio::error::eof)
        return 0;
    // By value, not by category: on Windows the resolver's errors share the
    // system category with every other error.
    if (ec == asio::error::not_found || ec == asio::error::host_not_found ||
        ec == asio::error::host_not_found_try_again || ec == asio::error::no_data ||
        ec == asio::error::no_recovery || ec == asio::error::service_not_found ||
        ec == asio::error::socket_type_not_supported)
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
    return asio::error::host_not_found; // WSAHOST_NOT_FOUND
#else
    return ENXIO;
#endif
}

int ReasonInvalid()
{
    return asio::error::invalid_argument;
}

} // namespace kelvo
