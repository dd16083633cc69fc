// The mapping of Asio's errors onto the platform's error numbers.
#include "Reasons.h"

#include <asio/error.hpp>
#include <gtest/gtest.h>

#include "PlatformErrors.h"

namespace kelvo {
namespace {

TEST(Reasons, PlatformNumbersPassAndNamesThatDoNotResolveGiveEnxio)
{
    EXPECT_EQ(ReasonOf(asio::error_code()), 0);
    EXPECT_EQ(ReasonOf(asio::error::eof), 0);
    EXPECT_EQ(ReasonOf(asio::error::connection_refused), kelvotest::kConnRefused);
    EXPECT_EQ(ReasonOf(asio::error::host_not_found), kelvotest::kHostNotFound);
    EXPECT_EQ(ReasonOf(asio::error::host_not_found_try_again), kelvotest::kHostNotFound);
    EXPECT_EQ(ReasonOf(asio::error::not_found), kelvotest::kHostNotFound);
    EXPECT_EQ(ReasonAborted(), kelvotest::kConnAborted);
    EXPECT_EQ(ReasonTimedOut(), kelvotest::kTimedOut);
    EXPECT_EQ(ReasonMessageSize(), kelvotest::kMessageSize);
}

} // namespace
} // namespace kelvo
