#include "Crc32c.h"

#include <array>

namespace mdcapture {
namespace {

constexpr std::uint32_t Reflected = 0x82F63B78u; // 0x1EDC6F41 bit-reversed

constexpr std::array<std::uint32_t, 256> MakeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ Reflected : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto Table = MakeTable();

} // namespace

std::uint32_t Crc32c(std::uint32_t crc, const void* bytes, std::size_t size)
{
    auto p = static_cast<const std::uint8_t*>(bytes);
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = Table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

} // namespace mdcapture
