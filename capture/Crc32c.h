// CRC-32C (Castagnoli, reflected, as iSCSI and ext4 use it): the
// checksum of capture headers and blocks. Written here to need no library;
// by the processor's instruction where it has one, else by table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mdcapture {

// Continue a checksum: start with crc 0, feed the bytes in any pieces.
std::uint32_t Crc32c(std::uint32_t crc, const void* bytes, std::size_t size);

} // namespace mdcapture
