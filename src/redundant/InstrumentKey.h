// An instrument id as a fixed 32-byte key: the text up to its terminator,
// zero after it (the client terminates InstrumentID within its 31 bytes, but
// what follows the terminator is whatever the front sent).
#pragma once

#include <cstdint>
#include <cstring>

namespace mdlink {

struct InstrumentKey {
    std::uint64_t word[4] = {};

    static InstrumentKey Of(const char (&id)[31])
    {
        InstrumentKey k;
        std::memcpy(k.word, id, sizeof id);
        // Zero from the terminator on, a word at a time: the lowest byte
        // found zero by the borrow trick is the first zero byte.
        bool ended = false;
        for (std::uint64_t& w : k.word) {
            if (ended) {
                w = 0;
                continue;
            }
            const std::uint64_t zero = (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull;
            if (zero) {
                w &= ((zero & (~zero + 1)) >> 7) - 1;
                ended = true;
            }
        }
        return k;
    }

    std::uint64_t Hash() const
    {
        std::uint64_t h = (word[0] * 0x9E3779B97F4A7C15ull) ^ (word[1] * 0xC2B2AE3D27D4EB4Full) ^
            (word[2] * 0x165667B19E3779F9ull) ^ (word[3] * 0xD6E8FEB86659FD93ull);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        return h ^ (h >> 32);
    }

    bool operator==(const InstrumentKey& o) const
    {
        return ((word[0] ^ o.word[0]) | (word[1] ^ o.word[1]) | (word[2] ^ o.word[2]) |
                (word[3] ^ o.word[3])) == 0;
    }
};

} // namespace mdlink
