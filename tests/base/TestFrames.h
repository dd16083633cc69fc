// Frames of the base-layer tests: a 24-byte header (body length at offset 8,
// like the real protocol) followed by a body whose every byte is derived
// from the stream, the sequence number and its position, so a frame that is
// cut, merged or reordered never checks out.
//
//   offset 0 marker, 4 stream, 8 body length, 12 sequence  (little-endian)
#pragma once

#include <cstdint>
#include <string>

namespace kelvotest {

constexpr std::size_t kHeaderSize = 24;

inline void PutU32(char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::uint32_t GetU32(const char* p)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

inline char BodyByte(std::uint32_t stream, std::uint32_t seq, std::size_t at)
{
    return static_cast<char>((seq * 131u + static_cast<std::uint32_t>(at) * 7u + stream * 17u) & 0xFF);
}

inline std::string MakeFrame(std::uint32_t stream, std::uint32_t seq, std::uint32_t bodyLength)
{
    std::string frame(kHeaderSize + bodyLength, '\0');
    PutU32(&frame[0], 0xFE44);
    PutU32(&frame[4], stream);
    PutU32(&frame[8], bodyLength);
    PutU32(&frame[12], seq);
    for (std::size_t i = 0; i < bodyLength; ++i)
        frame[kHeaderSize + i] = BodyByte(stream, seq, i);
    return frame;
}

inline std::uint32_t BodyLengthOf(const char* header)
{
    return GetU32(header + 8);
}
inline std::uint32_t StreamOf(const std::string& frame)
{
    return GetU32(frame.data() + 4);
}
inline std::uint32_t SeqOf(const std::string& frame)
{
    return GetU32(frame.data() + 12);
}

// True when the frame is whole: the right length and every body byte right.
inline bool FrameIsWhole(const std::string& frame)
{
    if (frame.size() < kHeaderSize || GetU32(frame.data()) != 0xFE44)
        return false;
    const std::uint32_t length = BodyLengthOf(frame.data());
    if (frame.size() != kHeaderSize + length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (frame[kHeaderSize + i] != BodyByte(StreamOf(frame), SeqOf(frame), i))
            return false;
    }
    return true;
}

} // namespace kelvotest
