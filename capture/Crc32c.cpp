#include "Crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MDCAPTURE_CRC_INSTRUCTION 1
#include <nmmintrin.h>
#endif

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

std::uint32_t ByTable(std::uint32_t crc, const std::uint8_t* p, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        crc = Table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

#ifdef MDCAPTURE_CRC_INSTRUCTION
// The processor's own CRC-32C instruction, eight bytes a step: a reader
// checks every block it reads, and a byte a step held it to a quarter of
// the speed of decompression.
__attribute__((target("sse4.2"))) std::uint32_t ByInstruction(std::uint32_t crc, const std::uint8_t* p,
                                                              std::size_t size)
{
    std::uint64_t c = crc;
    for (; size >= 8; p += 8, size -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        c = _mm_crc32_u64(c, word);
    }
    std::uint32_t c32 = static_cast<std::uint32_t>(c);
    for (; size > 0; ++p, --size)
        c32 = _mm_crc32_u8(c32, *p);
    return c32;
}

const bool HasInstruction = __builtin_cpu_supports("sse4.2");
#endif

} // namespace

std::uint32_t Crc32c(std::uint32_t crc, const void* bytes, std::size_t size)
{
    auto p = static_cast<const std::uint8_t*>(bytes);
#ifdef MDCAPTURE_CRC_INSTRUCTION
    if (HasInstruction)
        return ~ByInstruction(~crc, p, size);
#endif
    return ~ByTable(~crc, p, size);
}

} // namespace mdcapture
