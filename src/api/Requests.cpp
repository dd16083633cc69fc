// Login and subscription requests.
//
// A subscription joins the instrument ids with '|' and cuts the text into
// frames: a frame is sent as soon as the text, with its trailing '|', reaches
// 512 bytes. Each frame's RequestId is (index of its last id + 1) minus the
// index at which the previous frame was cut; the closing frame takes
// count + 1 minus that index. Fronts rely on these numbers as they are.
#include "api/MdClient.h"
#include "calls/Boundary.h"
#include "calls/ListArguments.h"

#include "wire/SendFrame.h"

using namespace mdlink;

struct CKelvoMDClient::ListRequest {
    std::uint32_t msgType;
    std::uint32_t marker;
    const char* tag;
    const char* text;
    int resultForNone; // result of a call with a count of 0
};

namespace {

constexpr int FrameCutLength = 512;
constexpr int LoginRecordSize = static_cast<int>(sizeof(CThostFtdcReqUserLoginField));

} // namespace

int CKelvoMDClient::SendInstrumentList(const ListRequest& kind, char* ids[], int count)
{
    if (const std::optional<int> refused = ListRefusal(ids, count, kind.resultForNone))
        return *refused;
    if (kind.msgType == MsgSubscribeMarketData || kind.msgType == MsgUnSubscribeMarketData)
        Figures->ages.Note(ids, count, kind.msgType == MsgSubscribeMarketData);

    FrameHeader header;
    header.Marker = kind.marker;
    header.MsgType = kind.msgType;
    header.Tick = Kelvo_THREAD_GetTickCount();
    Kelvo_String text;
    // Sends the ids gathered so far, without the last one's '|'.
    auto sendText = [&](int requestId) {
        header.RequestId = requestId;
        text.truncate_right(1);
        header.BodyLength = static_cast<std::uint32_t>(text.length());
        return SendFrame(*this, header, text.c_str(), text.length()) != 0;
    };
    int cut = 0;
    for (int i = 0; i < count; ++i) {
        WriteLog(LogInfo, kind.tag, kind.text, ids[i]);
        text.sprintf_append("%s", ids[i]);
        text.addch('|', 1);
        if (text.length() < FrameCutLength)
            continue;
        if (!sendText(i + 1 - cut))
            return -1;
        text.Reset();
        header.Tick = Kelvo_THREAD_GetTickCount();
        cut = i;
    }
    if (text.length() > 0 && !sendText(count + 1 - cut))
        return -1;
    return 0;
}

int CKelvoMDClient::SubscribeMarketData(char* ppInstrumentID[], int nCount)
{
    static const ListRequest kind = {MsgSubscribeMarketData, MarkerRequest, "--Sub", "Subscribe market [%s]",
                                     -1};
    return AtBoundary(-1, [&] { return SendInstrumentList(kind, ppInstrumentID, nCount); });
}

int CKelvoMDClient::UnSubscribeMarketData(char* ppInstrumentID[], int nCount)
{
    static const ListRequest kind = {MsgUnSubscribeMarketData, MarkerRequest, "UnSub",
                                     "UnSubscribe market [%s]", 0};
    return AtBoundary(-1, [&] { return SendInstrumentList(kind, ppInstrumentID, nCount); });
}

int CKelvoMDClient::SubscribeForQuoteRsp(char* ppInstrumentID[], int nCount)
{
    static const ListRequest kind = {MsgSubscribeForQuoteRsp, MarkerBinary, "Sub",
                                     "Subscribe ForQuoteRsp [%s]", -1};
    return AtBoundary(-1, [&] { return SendInstrumentList(kind, ppInstrumentID, nCount); });
}

int CKelvoMDClient::UnSubscribeForQuoteRsp(char* ppInstrumentID[], int nCount)
{
    static const ListRequest kind = {MsgUnSubscribeForQuoteRsp, MarkerBinary, "UnSub",
                                     "UnSubscribe ForQuoteRsp [%s]", 0};
    return AtBoundary(-1, [&] { return SendInstrumentList(kind, ppInstrumentID, nCount); });
}

int CKelvoMDClient::ReqUserLogin(CThostFtdcReqUserLoginField* pReqUserLoginField, int nRequestID)
{
    return AtBoundary(-1, [&] {
        const int length = pReqUserLoginField ? LoginRecordSize : 0;
        FrameHeader header;
        header.Marker = MarkerRequest;
        header.MsgType = MsgUserLogin;
        header.BodyLength = static_cast<std::uint32_t>(length);
        header.RequestId = nRequestID;
        header.Tick = Kelvo_THREAD_GetTickCount();
        return SendFrame(*this, header, pReqUserLoginField, length) == 1 ? 0 : -1;
    });
}
