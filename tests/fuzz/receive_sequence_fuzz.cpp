// Sequences of frames a front sends, valid or corrupted, received in chunks
// split where the fuzzer chooses, with virtual time passing between them.
//
// The input is read as a small program: each step is a frame of one kind,
// its header fields and body taken from the input, maybe corrupted (a
// length that lies, a cut, a changed byte, a wrong marker, garbage before
// it), or a pause that receives what was built so far and lets the
// heartbeat's timers run. Chunk sizes come from the input too.
#include "FakeBase.h"
#include "FuzzClient.h"
#include "link/HeartBeat.h"
#include "wire/FrameHeader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

using namespace mdlink;

namespace {

enum class Step : std::uint8_t {
    SubRsp,
    UnSubRsp,
    LoginRsp,
    SubQuoteRsp,
    UnSubQuoteRsp,
    DepthBinary,
    DepthText,
    DepthJoined,
    ForQuote,
    HeartBeatReply,
    UnknownType,
    Pause,
    kMaxValue = Pause
};

enum class Fault : std::uint8_t {
    None,
    LengthLie,
    Cut,
    ChangeByte,
    WrongMarker,
    Garbage,
    kMaxValue = Garbage
};

constexpr std::uint32_t RspInfoSize = sizeof(CThostFtdcRspInfoField);

struct Shape {
    std::uint32_t msgType;
    std::uint32_t marker;
    std::uint32_t recordSize; // 0: text of any length up to MaxText
    bool mayCarryInfo;
};

constexpr std::uint32_t MaxText = 800;

Shape ShapeOf(Step step)
{
    switch (step) {
    case Step::SubRsp: return {MsgRspSubscribeMarketData, MarkerBinary, 31, true};
    case Step::UnSubRsp: return {MsgRspUnSubscribeMarketData, MarkerBinary, 31, true};
    case Step::LoginRsp: return {MsgRspUserLogin, MarkerBinary, 160, true};
    case Step::SubQuoteRsp: return {MsgRspSubscribeForQuoteRsp, MarkerBinary, 31, true};
    case Step::UnSubQuoteRsp: return {MsgRspUnSubscribeForQuoteRsp, MarkerBinary, 31, true};
    case Step::DepthBinary:
        return {MsgDepthMarketData, MarkerBinary, sizeof(CThostFtdcDepthMarketDataField), false};
    case Step::DepthText: return {MsgDepthMarketData, MarkerText, 0, false};
    case Step::DepthJoined: return {MsgDepthMarketData, MarkerTextJoined, 0, false};
    case Step::ForQuote: return {MsgForQuoteRsp, MarkerBinary, sizeof(CThostFtdcForQuoteRspField), false};
    case Step::UnknownType: return {0x40059999, MarkerBinary, 0, false};
    default: return {MsgHeartBeat, MarkerBinary, 0, false}; // HeartBeatReply: no body
    }
}

std::uint32_t BodyLength(FuzzedDataProvider& in, Step step, const Shape& shape)
{
    if (step == Step::HeartBeatReply)
        return 0;
    if (shape.recordSize == 0)
        return in.ConsumeIntegralInRange<std::uint32_t>(0, MaxText);
    if (shape.mayCarryInfo && in.ConsumeBool())
        return shape.recordSize + RspInfoSize;
    return shape.recordSize;
}

// A reply names a heartbeat counted back from the latest (0: the latest,
// which it answers; others are stale), so that what it does never depends
// on how many heartbeats earlier inputs sent.
std::int32_t RequestId(FuzzedDataProvider& in, Step step)
{
    if (step != Step::HeartBeatReply)
        return in.ConsumeIntegral<std::int32_t>();
    const std::uint32_t latest = fuzz::Client()->GetSupervisor()->GetHeartBeatSeq() - 1u;
    return static_cast<std::int32_t>(latest - in.ConsumeIntegral<std::uint8_t>());
}

void Corrupt(FuzzedDataProvider& in, std::string& stream, std::size_t frameAt)
{
    const std::size_t frameSize = stream.size() - frameAt;
    unsigned char* frame = reinterpret_cast<unsigned char*>(&stream[frameAt]);
    switch (in.ConsumeEnum<Fault>()) {
    case Fault::None: break;
    case Fault::LengthLie: PutU32(frame + 8, in.ConsumeIntegral<std::uint32_t>()); break;
    case Fault::Cut: stream.resize(frameAt + in.ConsumeIntegralInRange<std::size_t>(0, frameSize - 1)); break;
    case Fault::ChangeByte:
        frame[in.ConsumeIntegralInRange<std::size_t>(0, frameSize - 1)] = in.ConsumeIntegral<std::uint8_t>();
        break;
    case Fault::WrongMarker: PutU32(frame, in.ConsumeIntegral<std::uint32_t>()); break;
    case Fault::Garbage: {
        char garbage[64];
        const std::size_t n =
            in.ConsumeData(garbage, in.ConsumeIntegralInRange<std::size_t>(1, sizeof garbage));
        stream.insert(frameAt, garbage, n);
        break;
    }
    }
}

void AppendFrame(FuzzedDataProvider& in, Step step, std::string& stream)
{
    const Shape shape = ShapeOf(step);
    FrameHeader header;
    header.Marker = shape.marker;
    header.MsgType = shape.msgType;
    header.BodyLength = BodyLength(in, step, shape);
    header.RequestId = RequestId(in, step);
    header.IsLast = in.ConsumeBool() ? 1 : 0;

    const std::size_t frameAt = stream.size();
    stream.resize(frameAt + FrameHeaderSize + header.BodyLength);
    EncodeHeader(header, reinterpret_cast<unsigned char*>(&stream[frameAt]));
    // The body from the input; what it lacks stays zero.
    in.ConsumeData(&stream[frameAt + FrameHeaderSize], header.BodyLength);
    Corrupt(in, stream, frameAt);
}

// Chunk sizes from the input; once it is used up, the rest at once.
void ReceiveSplit(FuzzedDataProvider& in, const std::string& stream)
{
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t left = stream.size() - at;
        const std::size_t n =
            in.remaining_bytes() == 0 ? left : std::min(left, in.ConsumeIntegralInRange<std::size_t>(1, 512));
        // Where the client dropped the link, the rest comes on a new one.
        if (!fuzz::Receive(reinterpret_cast<const unsigned char*>(stream.data()) + at, n))
            fuzz::Reconnect();
        at += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Kept between inputs so that building a stream allocates nothing.
    static std::string stream;
    FuzzedDataProvider in(data, size);
    fuzz::Connect();
    stream.clear();
    while (in.remaining_bytes() > 0) {
        const Step step = in.ConsumeEnum<Step>();
        if (step != Step::Pause) {
            AppendFrame(in, step, stream);
            continue;
        }
        ReceiveSplit(in, stream);
        stream.clear();
        // Up to past the third unanswered heartbeat.
        fake::World::Get().Advance(in.ConsumeIntegralInRange<std::uint32_t>(0, 25000));
    }
    ReceiveSplit(in, stream);
    fuzz::Disconnect();
    return 0;
}
