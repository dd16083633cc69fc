// The message id a record is published under: 32 hex digits of a 128-bit
// hash of the record kind and the record's bytes. It depends on nothing
// else (not the relay, not the time of receipt), so relays on different
// hosts that receive the same record publish it under the same id, and the
// stream stores it once within its duplicate window. Byte-identical records
// of one kind within that window are therefore stored once, as the
// redundant client treats them.
//
// The hash is part of the bus format: relays of different versions must
// agree on it, so it never changes within a format version.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mdrelay {

struct RecordKey {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
};

RecordKey KeyOf(std::uint8_t kind, const void* bytes, std::size_t size);

// Writes the 32 hex digits and a NUL.
void KeyText(const RecordKey& key, char (&out)[33]);

} // namespace mdrelay
