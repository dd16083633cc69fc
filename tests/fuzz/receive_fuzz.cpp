// Arbitrary bytes from a front, in arbitrary chunks, through the client's
// receive path. Each input is a connection of its own.
#include "FuzzClient.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte chooses the chunk size, the rest is the stream: a
    // quarter of the choices split it finely (1 to 64 bytes), the others in
    // the large reads the base layer makes (64 bytes to all at once). At
    // most 64 reads an input, as splitting a long stream byte by byte costs
    // a hundred times more and finds nothing that a short one does not;
    // chosen split points anywhere are the sequence target's job.
    if (size == 0)
        return 0;
    const std::size_t stream = size - 1;
    const std::size_t chosen = data[0] < 64 ? 1 + data[0] : 64 * std::size_t(data[0] - 63);
    const std::size_t chunk = std::max(chosen, (stream + 63) / 64);
    fuzz::Connect();
    for (std::size_t at = 1; at < size; at += chunk)
        if (!fuzz::Receive(data + at, std::min(chunk, size - at)))
            break;
    fuzz::Disconnect();
    return 0;
}
