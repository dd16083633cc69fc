// Little-endian fixed-width fields in and out of byte buffers, one at a
// time through memcpy: the file's byte order whatever the host's.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace mdcapture {

template <typename T>
inline void Store(std::uint8_t* out, T value)
{
    static_assert(std::is_integral_v<T>);
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

template <typename T>
inline T Load(const std::uint8_t* in)
{
    static_assert(std::is_integral_v<T>);
    using U = std::make_unsigned_t<T>;
    U u = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        u = static_cast<U>(u | static_cast<U>(in[i]) << (8 * i));
    return static_cast<T>(u);
}

} // namespace mdcapture
