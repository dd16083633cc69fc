// A record's identity: a 128-bit hash of the record kind and the record's
// bytes, and nothing else (not who received it, not when). The relay
// publishes a record under its 32 hex digits, so relays on different hosts
// that receive the same record publish it under the same id and the stream
// stores it once within its duplicate window; mdcap merge matches the
// records of two captures of one feed by it. Byte-identical records of one
// kind are therefore one record, as the redundant client treats them.
//
// The hash is part of the bus format: relays of different versions must
// agree on it, so it never changes within a format version.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mdrecord {

struct RecordKey {
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    bool operator==(const RecordKey& other) const { return high == other.high && low == other.low; }
};

struct RecordKeyHash {
    std::size_t operator()(const RecordKey& key) const { return static_cast<std::size_t>(key.low); }
};

RecordKey KeyOf(std::uint8_t kind, const void* bytes, std::size_t size);

// Writes the 32 hex digits and a NUL.
void KeyText(const RecordKey& key, char (&out)[33]);

} // namespace mdrecord
