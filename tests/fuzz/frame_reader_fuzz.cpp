// Arbitrary bytes through the frame reader alone, in arbitrary chunks, as the
// base layer drives it: ask where and how many, copy exactly that many, hand
// them over. Each answer is checked against what the stream itself says
// comes next, and each body against the stream's bytes. Each input is a
// stream of its own.
#include "wire/FrameReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using mdlink::FrameHeaderSize;
using mdlink::FrameReader;

namespace {

void Check(bool holds)
{
    if (!holds)
        std::abort();
}

struct Follower {
    bool inBody = false;
    bool corrupt = false;
    std::uint32_t announced = 0;

    std::size_t Wanted() const { return corrupt ? 0 : inBody ? announced : FrameHeaderSize; }
};

// Takes what the reader asks for out of [at, end); returns where it stopped.
const std::uint8_t* Drain(FrameReader& reader, Follower& f, const std::uint8_t* at, const std::uint8_t* end)
{
    for (;;) {
        const std::size_t ready = static_cast<std::size_t>(end - at);
        long size = static_cast<long>(ready);
        char* where = reader.Next(size);
        Check(where != nullptr);
        const std::size_t wanted = f.Wanted();
        if (wanted == 0 || ready < wanted) {
            Check(size == 0);
            return at;
        }
        Check(static_cast<std::size_t>(size) == wanted);
        std::memcpy(where, at, wanted);
        const FrameReader::Event event = reader.Took();
        if (f.inBody) {
            Check(event == FrameReader::Event::Body);
            Check(reader.Body() == where && reader.BodyLength() == wanted);
            Check(std::memcmp(where, at, wanted) == 0);
            f.inBody = false;
        } else {
            f.announced = mdlink::GetU32(at + 8);
            Check(reader.BodyLength() == f.announced);
            Check(reader.Header().RequestId == static_cast<std::int32_t>(mdlink::GetU32(at + 12)));
            if (f.announced == 0) {
                Check(event == FrameReader::Event::HeartBeat);
            } else if (f.announced > FrameReader::MaxBodyLength) {
                Check(event == FrameReader::Event::TooLarge);
                f.corrupt = true;
            } else {
                Check(event == FrameReader::Event::None);
                f.inBody = true;
            }
        }
        at += wanted;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte chooses the chunk size, as in receive_fuzz: 1 to 64
    // bytes, or 64 bytes and up. The reader alone is cheap enough to take
    // any input in chunks of one byte.
    if (size == 0)
        return 0;
    static FrameReader reader;
    const std::size_t chunk = data[0] < 64 ? 1 + data[0] : 64 * std::size_t(data[0] - 63);
    Follower follower;
    const std::uint8_t* taken = data + 1;
    for (std::size_t arrived = 1; arrived < size;) {
        arrived = std::min(size, arrived + chunk);
        taken = Drain(reader, follower, taken, data + arrived);
    }
    // A new stream: a big body's buffer goes, so no input leaks into the next.
    reader.Reset();
    Check(reader.GetState() == FrameReader::State::WaitHeader);
    return 0;
}
