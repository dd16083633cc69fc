#include "RecordKey.h"

#include <cstring>

namespace mdrecord {

namespace {

constexpr std::uint64_t M1 = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t M2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t M3 = 0x165667B19E3779F9ull;

std::uint64_t Load64(const unsigned char* p)
{
    // Little-endian whatever the host, so every relay reads the same words.
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

std::uint64_t Rotl(std::uint64_t v, int r)
{
    return (v << r) | (v >> (64 - r));
}

// A full-avalanche finaliser: every input bit flips each output bit with
// probability close to one half.
std::uint64_t Finish(std::uint64_t v)
{
    v ^= v >> 33;
    v *= 0xFF51AFD7ED558CCDull;
    v ^= v >> 33;
    v *= 0xC4CEB9FE1A85EC53ull;
    v ^= v >> 33;
    return v;
}

void Mix(std::uint64_t& a, std::uint64_t& b, std::uint64_t x, std::uint64_t y)
{
    a = Rotl(a ^ (x * M1), 29) * M2;
    b = Rotl(b ^ (y * M2), 31) * M3;
    a += b;
    b += a;
}

} // namespace

RecordKey KeyOf(std::uint8_t kind, const void* bytes, std::size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    std::uint64_t a = M3 ^ (static_cast<std::uint64_t>(kind) << 56) ^ size;
    std::uint64_t b = M1 ^ Rotl(size, 32);
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16)
        Mix(a, b, Load64(p + i), Load64(p + i + 8));
    if (i < size) {
        unsigned char tail[16] = {};
        std::memcpy(tail, p + i, size - i);
        Mix(a, b, Load64(tail), Load64(tail + 8));
    }
    RecordKey key;
    key.high = Finish(a ^ Rotl(b, 17));
    key.low = Finish(b + key.high * M1);
    return key;
}

void KeyText(const RecordKey& key, char (&out)[33])
{
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[i] = hex[(key.high >> (60 - 4 * i)) & 15];
        out[16 + i] = hex[(key.low >> (60 - 4 * i)) & 15];
    }
    out[32] = '\0';
}

} // namespace mdrecord
