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
        const void* end = std::memchr(id, 0, sizeof id);
        const std::size_t n = end ? static_cast<std::size_t>(static_cast<const char*>(end) - id)
                                  : sizeof id;
        std::memcpy(k.word, id, n);
        return k;
    }

    std::uint64_t Hash() const
    {
        std::uint64_t h = word[0] * 0x9E3779B97F4A7C15ull;
        h ^= (word[1] + (h >> 29)) * 0xC2B2AE3D27D4EB4Full;
        h ^= (word[2] + (h >> 31)) * 0x165667B19E3779F9ull;
        h ^= (word[3] + (h >> 27)) * 0x9E3779B97F4A7C15ull;
        return h ^ (h >> 32);
    }

    bool operator==(const InstrumentKey& o) const
    {
        return ((word[0] ^ o.word[0]) | (word[1] ^ o.word[1]) | (word[2] ^ o.word[2]) |
                (word[3] ^ o.word[3])) == 0;
    }
};

} // namespace mdlink
