// The 24-byte header in front of every frame, in both directions.
//
//   offset  size  field
//        0     4  Marker       how a depth body is encoded
//        4     4  MsgType
//        8     4  BodyLength   bytes of body that follow; 0 = no body
//       12     4  RequestId    signed
//       16     4  Tick         sender's tick count, never read on receipt
//       20     4  IsLast       only the first byte counts
//
// All fields little-endian. Encoded and decoded byte by byte so that the code
// does not depend on the host's byte order or on alignment.
#pragma once

#include <cstdint>
#include <cstring>

namespace mdlink {

constexpr std::uint32_t FrameHeaderSize = 24;

constexpr std::uint32_t MarkerBinary = 0xFE44;
constexpr std::uint32_t MarkerText = 0xFE55;
constexpr std::uint32_t MarkerTextJoined = 0xFE66;

constexpr std::uint32_t MsgSubscribeMarketData = 0x00050001;
constexpr std::uint32_t MsgUnSubscribeMarketData = 0x00050002;
constexpr std::uint32_t MsgUserLogin = 0x00050003;
constexpr std::uint32_t MsgSubscribeForQuoteRsp = 0x00050005;
constexpr std::uint32_t MsgUnSubscribeForQuoteRsp = 0x00050006;
constexpr std::uint32_t MsgHeartBeat = 0x00018001;
constexpr std::uint32_t MsgRspSubscribeMarketData = 0x20050001;
constexpr std::uint32_t MsgRspUnSubscribeMarketData = 0x20050002;
constexpr std::uint32_t MsgRspUserLogin = 0x20050003;
constexpr std::uint32_t MsgRspSubscribeForQuoteRsp = 0x20050005;
constexpr std::uint32_t MsgRspUnSubscribeForQuoteRsp = 0x20050006;
constexpr std::uint32_t MsgDepthMarketData = 0x40050001;
constexpr std::uint32_t MsgForQuoteRsp = 0x40050002;

// The marker of login and market-data (un)subscription frames differs between
// the two builds (for-quote and heartbeat frames always carry MarkerBinary);
// in requests it does not describe the body.
#if defined(_WIN32)
constexpr std::uint32_t MarkerRequest = MarkerBinary;
#else
constexpr std::uint32_t MarkerRequest = MarkerText;
#endif

struct FrameHeader {
    std::uint32_t Marker = 0;
    std::uint32_t MsgType = 0;
    std::uint32_t BodyLength = 0;
    std::int32_t RequestId = 0;
    std::uint32_t Tick = 0;
    std::uint8_t IsLast = 0;
};

inline void PutU32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline std::uint32_t GetU32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Writes the header's 24 bytes; the three bytes after IsLast are always 0.
inline void EncodeHeader(const FrameHeader& h, unsigned char* out)
{
    PutU32(out, h.Marker);
    PutU32(out + 4, h.MsgType);
    PutU32(out + 8, h.BodyLength);
    PutU32(out + 12, static_cast<std::uint32_t>(h.RequestId));
    PutU32(out + 16, h.Tick);
    PutU32(out + 20, h.IsLast);
}

// A header is decoded right after the base layer copied it in, typically as
// two overlapping 16-byte stores. A wide load spanning both cannot be served
// from the store buffer and stalls the receive path for every frame, so each
// field is read on its own: the empty asm keeps the compiler from merging the
// four loads into one vector load.
inline std::uint32_t HeaderField(const unsigned char* p)
{
    std::uint32_t v = GetU32(p);
#if defined(__GNUC__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

inline FrameHeader DecodeHeader(const unsigned char* in)
{
    FrameHeader h;
    h.Marker = HeaderField(in);
    h.MsgType = HeaderField(in + 4);
    h.BodyLength = HeaderField(in + 8);
    h.RequestId = static_cast<std::int32_t>(HeaderField(in + 12));
    h.Tick = HeaderField(in + 16);
    h.IsLast = in[20];
    return h;
}

} // namespace mdlink
