// Builds the frames the front sends: pure functions over byte vectors, no
// socket, so tests can compare what went out with what was meant.
#pragma once

#include "MdApi.h"
#include "wire/FrameHeader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mdfront {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t LoginRecordSize = 160; // 156-byte record + 4 bytes of padding
constexpr std::size_t RspInfoSize = sizeof(CThostFtdcRspInfoField);
constexpr std::size_t InstrumentRecordSize = sizeof(CThostFtdcSpecificInstrumentField);
constexpr std::size_t LoginBodySize = LoginRecordSize + RspInfoSize;
constexpr std::size_t InstrumentBodySize = InstrumentRecordSize + RspInfoSize;
constexpr std::size_t DepthRecordSize = sizeof(CThostFtdcDepthMarketDataField);
constexpr std::size_t ForQuoteSize = sizeof(CThostFtdcForQuoteRspField);

// The wire sizes clients test bodies against; a layout change must not slip by.
static_assert(sizeof(CThostFtdcRspUserLoginField) == 156, "login record size");
static_assert(LoginBodySize == 248, "login response body size");
static_assert(InstrumentBodySize == 119, "instrument response body size");
static_assert(DepthRecordSize == 408, "depth record size");
static_assert(ForQuoteSize == 88, "for-quote notice size");
static_assert(sizeof(CThostFtdcReqUserLoginField) == 228, "login request size");

// Low 32 bits of a monotonic millisecond count, for the header's Tick.
std::uint32_t TickNow();

// Copies text into a fixed-width member, cut so the last byte stays zero.
void CopyText(char* dst, std::size_t width, const std::string& text);

// Text of a fixed-width member, up to its first zero byte.
std::string MemberText(const char* src, std::size_t width);

CThostFtdcRspInfoField MakeRspInfo(int errorId, const std::string& message);

// Header (MarkerBinary unless given, BodyLength from the body) + body.
Bytes MakeFrame(std::uint32_t msgType, std::int32_t requestId, bool isLast, const Bytes& body,
                std::uint32_t marker = mdlink::MarkerBinary);

Bytes LoginResponseBody(const CThostFtdcRspUserLoginField& login, const CThostFtdcRspInfoField& info);
Bytes InstrumentResponseBody(const std::string& instrumentId, const CThostFtdcRspInfoField& info);
Bytes RecordBytes(const void* record, std::size_t size);

// The header-only reply to a heartbeat, repeating its RequestId.
Bytes HeartBeatReply(std::int32_t requestId);

// The response type that answers a request type; 0 for a type that has none.
std::uint32_t ResponseTypeOf(std::uint32_t requestType);

// Body of a request frame's instrument list, split at '|'. An empty body
// is one empty id.
std::vector<std::string> SplitInstrumentList(const unsigned char* body, std::size_t length);

} // namespace mdfront
