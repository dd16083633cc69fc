#include "FrameBuilder.h"

#include <chrono>
#include <cstring>

namespace mdfront {

std::uint32_t TickNow()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

void CopyText(char* dst, std::size_t width, const std::string& text)
{
    std::memset(dst, 0, width);
    std::memcpy(dst, text.data(), text.size() < width ? text.size() : width - 1);
}

std::string MemberText(const char* src, std::size_t width)
{
    const void* nul = std::memchr(src, 0, width);
    return std::string(src, nul ? static_cast<const char*>(nul) - src : static_cast<std::ptrdiff_t>(width));
}

CThostFtdcRspInfoField MakeRspInfo(int errorId, const std::string& message)
{
    CThostFtdcRspInfoField info;
    std::memset(&info, 0, sizeof info);
    info.ErrorID = errorId;
    CopyText(info.ErrorMsg, sizeof info.ErrorMsg, message);
    return info;
}

Bytes MakeFrame(std::uint32_t msgType, std::int32_t requestId, bool isLast, const Bytes& body,
                std::uint32_t marker)
{
    mdlink::FrameHeader h;
    h.Marker = marker;
    h.MsgType = msgType;
    h.BodyLength = static_cast<std::uint32_t>(body.size());
    h.RequestId = requestId;
    h.Tick = TickNow();
    h.IsLast = isLast ? 1 : 0;
    Bytes frame(mdlink::FrameHeaderSize + body.size());
    mdlink::EncodeHeader(h, frame.data());
    if (!body.empty())
        std::memcpy(frame.data() + mdlink::FrameHeaderSize, body.data(), body.size());
    return frame;
}

Bytes RecordBytes(const void* record, std::size_t size)
{
    const auto* p = static_cast<const unsigned char*>(record);
    return Bytes(p, p + size);
}

Bytes LoginResponseBody(const CThostFtdcRspUserLoginField& login, const CThostFtdcRspInfoField& info)
{
    Bytes body(LoginBodySize, 0);
    std::memcpy(body.data(), &login, sizeof login);
    std::memcpy(body.data() + LoginRecordSize, &info, sizeof info);
    return body;
}

Bytes InstrumentResponseBody(const std::string& instrumentId, const CThostFtdcRspInfoField& info)
{
    Bytes body(InstrumentBodySize, 0);
    CThostFtdcSpecificInstrumentField rec;
    CopyText(rec.InstrumentID, sizeof rec.InstrumentID, instrumentId);
    std::memcpy(body.data(), &rec, sizeof rec);
    std::memcpy(body.data() + InstrumentRecordSize, &info, sizeof info);
    return body;
}

Bytes HeartBeatReply(std::int32_t requestId)
{
    return MakeFrame(mdlink::MsgHeartBeat, requestId, false, Bytes());
}

std::uint32_t ResponseTypeOf(std::uint32_t requestType)
{
    switch (requestType) {
    case mdlink::MsgSubscribeMarketData: return mdlink::MsgRspSubscribeMarketData;
    case mdlink::MsgUnSubscribeMarketData: return mdlink::MsgRspUnSubscribeMarketData;
    case mdlink::MsgSubscribeForQuoteRsp: return mdlink::MsgRspSubscribeForQuoteRsp;
    case mdlink::MsgUnSubscribeForQuoteRsp: return mdlink::MsgRspUnSubscribeForQuoteRsp;
    case mdlink::MsgUserLogin: return mdlink::MsgRspUserLogin;
    default: return 0;
    }
}

std::vector<std::string> SplitInstrumentList(const unsigned char* body, std::size_t length)
{
    std::vector<std::string> ids(1);
    for (std::size_t i = 0; i < length; ++i) {
        if (body[i] == '|')
            ids.emplace_back();
        else
            ids.back() += static_cast<char>(body[i]);
    }
    return ids;
}

} // namespace mdfront
