// The receive path: frames off the connection, to the application.
//
// The base layer asks OnRecvBuffer where to put the next bytes and how many
// to take, then tells OnRecvData they are there; both hand the question to
// the frame reader (wire/FrameReader.h), which keeps the stream's state. A
// body goes to HandleMsg and on to the application by type; a frame without
// a body is a heartbeat reply, for the supervisor. A body announced over
// 1 MiB, or one there is no memory for, means the stream cannot be followed
// (the format has no way to find the next frame): the link is dropped.
#include "api/MdClient.h"

#include "link/HeartBeat.h"
#include "wire/DepthText.h"
#include "wire/RecordLayout.h"

#include <cstring>
#include <new>

using namespace mdlink;

namespace {

constexpr std::uint32_t InstrumentRecordSize = sizeof(CThostFtdcSpecificInstrumentField);
constexpr std::uint32_t LoginRecordSize = 160; // the 156-byte record and 4 unused bytes

// A body shorter than the record it is read as: the rest reads as zero, never
// as bytes of an earlier frame. Short bodies always lie in the reader's own
// buffer, which is larger than any record.
void ZeroPastBody(char* body, std::uint32_t length, std::uint32_t recordSize)
{
    if (length < recordSize)
        std::memset(body + length, 0, recordSize - length);
}

template <std::size_t N>
void CopyMemberText(char (&member)[N], const char* source)
{
    const void* end = std::memchr(source, 0, N - 1);
    const std::size_t n = end ? static_cast<std::size_t>(static_cast<const char*>(end) - source) : N - 1;
    std::memcpy(member, source, n);
}

} // namespace

char* CKelvoMDClient::OnRecvBuffer(long& size)
{
    try {
        return Reader.Next(size);
    } catch (const std::bad_alloc&) {
        WriteLog(LogError, "RecvData", "no memory for a body of %u bytes, dropping the link",
                 Reader.BodyLength());
        ResetReceiveState();
        Abort();
        size = 0;
        return Reader.Body();
    }
}

int CKelvoMDClient::OnRecvData(char* buffer, long size)
{
    if (size > 0)
        Figures->receivedBytes.Add(static_cast<std::uint64_t>(size));
    switch (Reader.Took()) {
    case FrameReader::Event::Body: try { HandleMsg(buffer);
        }
        KELVO_LET_FORCED_UNWIND_THROUGH
        catch (...)
        {
            // The library's own handling failed (no memory to arm a timer,
            // say): the link goes as lost rather than leaving the frame half
            // handled.
            WriteLog(LogError, "RecvData", "a frame could not be handled, dropping the link");
            ResetReceiveState();
            Abort();
        }
        break;
    case FrameReader::Event::HeartBeat:
        WriteLog(LogInfo, "DataOK", "receive HeartBeat");
        if (Supervisor)
            Supervisor->OnHeartBeatReply(Reader.Header());
        break;
    case FrameReader::Event::TooLarge:
        WriteLog(LogError, "RecvData", "body of %u bytes is too large, dropping the link",
                 Reader.BodyLength());
        ResetReceiveState();
        Abort();
        break;
    case FrameReader::Event::None: break;
    }
    return 0;
}

void CKelvoMDClient::HandleMsg(char* body)
{
    if (Supervisor)
        Supervisor->OnActivity();
    switch (Reader.Header().MsgType) {
    case MsgRspSubscribeMarketData:
    case MsgRspUnSubscribeMarketData:
    case MsgRspSubscribeForQuoteRsp:
    case MsgRspUnSubscribeForQuoteRsp: DispatchInstrumentRsp(body); break;
    case MsgRspUserLogin: DispatchLoginRsp(body); break;
    case MsgDepthMarketData: DispatchDepth(body); break;
    case MsgForQuoteRsp: DispatchForQuote(body); break;
    default: break; // not ours to read: dropped
    }
}

void CKelvoMDClient::DispatchInstrumentRsp(char* body)
{
    const FrameHeader& header = Reader.Header();
    ZeroPastBody(body, Reader.BodyLength(), InstrumentRecordSize);
    TerminateInstrumentText(body);
    // The response information sits at byte 31, unaligned for its int: the
    // application gets an aligned copy of it.
    CThostFtdcRspInfoField info;
    CThostFtdcRspInfoField* infoArg = nullptr;
    if (Reader.BodyLength() == InstrumentRecordSize + RspInfoSize) {
        std::memcpy(&info, body + InstrumentRecordSize, sizeof info);
        TerminateRspInfoText(reinterpret_cast<char*>(&info));
        infoArg = &info;
    }
    CThostFtdcSpecificInstrumentField* instrument =
        reinterpret_cast<CThostFtdcSpecificInstrumentField*>(body);
    const bool isLast = header.IsLast != 0;
    switch (header.MsgType) {
    case MsgRspSubscribeMarketData:
        CallSpi(CbRspSubMarketData, &CThostFtdcMdSpi::OnRspSubMarketData, instrument, infoArg,
                header.RequestId, isLast);
        break;
    case MsgRspUnSubscribeMarketData:
        CallSpi(CbRspUnSubMarketData, &CThostFtdcMdSpi::OnRspUnSubMarketData, instrument, infoArg,
                header.RequestId, isLast);
        break;
    case MsgRspSubscribeForQuoteRsp:
        CallSpi(CbRspSubForQuoteRsp, &CThostFtdcMdSpi::OnRspSubForQuoteRsp, instrument, infoArg,
                header.RequestId, isLast);
        break;
    default:
        CallSpi(CbRspUnSubForQuoteRsp, &CThostFtdcMdSpi::OnRspUnSubForQuoteRsp, instrument, infoArg,
                header.RequestId, isLast);
        break;
    }
}

void CKelvoMDClient::DispatchLoginRsp(char* body)
{
    const FrameHeader& header = Reader.Header();
    ZeroPastBody(body, Reader.BodyLength(), LoginRecordSize);
    CThostFtdcRspUserLoginField login;
    std::memset(&login, 0, sizeof login);
#define MDLINK_COPY_LOGIN_TEXT(Member)                                                                       \
    CopyMemberText(login.Member, body + offsetof(CThostFtdcRspUserLoginField, Member))
    MDLINK_COPY_LOGIN_TEXT(TradingDay);
    MDLINK_COPY_LOGIN_TEXT(LoginTime);
    MDLINK_COPY_LOGIN_TEXT(BrokerID);
    MDLINK_COPY_LOGIN_TEXT(UserID);
    MDLINK_COPY_LOGIN_TEXT(SystemName);
    MDLINK_COPY_LOGIN_TEXT(MaxOrderRef);
    MDLINK_COPY_LOGIN_TEXT(SHFETime);
    MDLINK_COPY_LOGIN_TEXT(DCETime);
    MDLINK_COPY_LOGIN_TEXT(CZCETime);
    MDLINK_COPY_LOGIN_TEXT(FFEXTime);
    MDLINK_COPY_LOGIN_TEXT(INETime);
#undef MDLINK_COPY_LOGIN_TEXT
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(body);
    login.FrontID = static_cast<int>(GetU32(raw + offsetof(CThostFtdcRspUserLoginField, FrontID)));
    login.SessionID = static_cast<int>(GetU32(raw + offsetof(CThostFtdcRspUserLoginField, SessionID)));

    CThostFtdcRspInfoField* info = nullptr;
    if (Reader.BodyLength() == LoginRecordSize + RspInfoSize) {
        info = reinterpret_cast<CThostFtdcRspInfoField*>(body + LoginRecordSize);
        TerminateRspInfoText(body + LoginRecordSize);
    }
    // The error number sits unaligned in the body: read it as bytes.
    const std::int32_t error =
        info ? static_cast<std::int32_t>(GetU32(reinterpret_cast<const unsigned char*>(info))) : 0;
    if (error != 0)
        Figures->loginRefusals.Add();
    else
        Figures->loggedIn.Set(1);
    CallSpi(CbRspUserLogin, &CThostFtdcMdSpi::OnRspUserLogin, &login, info, header.RequestId,
            header.IsLast != 0);
}

void CKelvoMDClient::DispatchDepth(char* body)
{
    Figures->Record();
    if (Reader.Header().Marker == MarkerBinary) {
        // Handed on in place: no copy, no allocation.
        ZeroPastBody(body, Reader.BodyLength(), sizeof(CThostFtdcDepthMarketDataField));
        TerminateDepthTexts(body);
        CThostFtdcDepthMarketDataField* record = reinterpret_cast<CThostFtdcDepthMarketDataField*>(body);
        Figures->ages.Mark(record->InstrumentID);
        if (Figures->lag.Wanted())
            Figures->lag.Time(record->ExchangeID, record->UpdateTime, record->UpdateMillisec);
        CallSpi(CbRtnDepthMarketData, &CThostFtdcMdSpi::OnRtnDepthMarketData, record);
        return;
    }
    // Decoded into a record on the loop thread's stack, zeroed for each body:
    // no heap per record. The application may use a record only during its
    // callback, which runs synchronously right here, so the record outlives
    // every use it can make of it; a nested dispatch would get its own.
    CThostFtdcDepthMarketDataField record;
    std::memset(&record, 0, sizeof record);
    DecodeDepthText(Reader.Header().Marker, body, Reader.BodyLength(), record);
    Figures->ages.Mark(record.InstrumentID);
    if (Figures->lag.Wanted())
        Figures->lag.Time(record.ExchangeID, record.UpdateTime, record.UpdateMillisec);
    CallSpi(CbRtnDepthMarketData, &CThostFtdcMdSpi::OnRtnDepthMarketData, &record);
}

void CKelvoMDClient::DispatchForQuote(char* body)
{
    ZeroPastBody(body, Reader.BodyLength(), sizeof(CThostFtdcForQuoteRspField));
    TerminateForQuoteTexts(body);
    CThostFtdcForQuoteRspField* notice = reinterpret_cast<CThostFtdcForQuoteRspField*>(body);
    WriteLog(LogDebug, "HNDMSG", "[OnRtnForQuoteRsp]:%s,%s,%s,%s,%s,%s", notice->TradingDay,
             notice->InstrumentID, notice->ForQuoteSysID, notice->ForQuoteTime, notice->ActionDay,
             notice->ExchangeID);
    CallSpi(CbRtnForQuoteRsp, &CThostFtdcMdSpi::OnRtnForQuoteRsp, notice);
}
