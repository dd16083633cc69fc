// One record on its way from the library's thread to the bus.
#pragma once

#include "BusFormat.h"

#include <cstdint>

namespace mdrelay {

// No initialisers: a queue's slots take memory only once records fill them.
struct RelayRecord {
    RecordKind kind;
    std::uint16_t size;     // bytes used of `bytes`
    std::int64_t recvNs;    // local receive time, ns since the epoch
    std::uint64_t sequence; // the relay's own number, from 1, in order of receipt
    alignas(8) unsigned char bytes[MaxRecordSize];
};

} // namespace mdrelay
