#include "TestSupport.h"

namespace test {

using namespace mdlink;

std::vector<std::string> RecordingSpi::Kinds() const
{
    std::vector<std::string> kinds;
    for (const SpiEvent& e : events)
        kinds.push_back(e.kind);
    return kinds;
}

int RecordingSpi::Count(const std::string& kind) const
{
    int n = 0;
    for (const SpiEvent& e : events)
        n += e.kind == kind;
    return n;
}

void RecordingSpi::Record(SpiEvent event)
{
    events.push_back(event);
    if (onEvent)
        onEvent(events.back());
}

void RecordingSpi::OnFrontConnected()
{
    SpiEvent e;
    e.kind = "FrontConnected";
    Record(e);
}

void RecordingSpi::OnFrontDisconnected(int nReason)
{
    SpiEvent e;
    e.kind = "FrontDisconnected";
    e.reason = nReason;
    Record(e);
}

void RecordingSpi::OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info,
                                  int requestId, bool isLast)
{
    SpiEvent e;
    e.kind = "RspUserLogin";
    e.recordAddress = login;
    e.login = *login;
    e.hasInfo = info != nullptr;
    if (info)
        e.info = *info;
    e.requestId = requestId;
    e.isLast = isLast;
    Record(e);
}

void RecordingSpi::Instrument(const char* kind, CThostFtdcSpecificInstrumentField* instrument,
                              CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    SpiEvent e;
    e.kind = kind;
    e.recordAddress = instrument;
    e.instrument = instrument->InstrumentID;
    e.hasInfo = info != nullptr;
    if (info)
        e.info = *info;
    e.requestId = requestId;
    e.isLast = isLast;
    Record(e);
}

void RecordingSpi::OnRspSubMarketData(CThostFtdcSpecificInstrumentField* instrument,
                                      CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    Instrument("RspSubMarketData", instrument, info, requestId, isLast);
}

void RecordingSpi::OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* instrument,
                                        CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    Instrument("RspUnSubMarketData", instrument, info, requestId, isLast);
}

void RecordingSpi::OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument,
                                       CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    Instrument("RspSubForQuoteRsp", instrument, info, requestId, isLast);
}

void RecordingSpi::OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument,
                                         CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    Instrument("RspUnSubForQuoteRsp", instrument, info, requestId, isLast);
}

void RecordingSpi::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth)
{
    SpiEvent e;
    e.kind = "RtnDepthMarketData";
    e.recordAddress = depth;
    e.depth = *depth;
    Record(e);
}

void RecordingSpi::OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* quote)
{
    SpiEvent e;
    e.kind = "RtnForQuoteRsp";
    e.recordAddress = quote;
    e.quote = *quote;
    Record(e);
}

std::string RawHeader(std::uint32_t msgType, std::uint32_t bodyLength, std::int32_t requestId,
                      std::uint32_t marker)
{
    FrameHeader h;
    h.Marker = marker;
    h.MsgType = msgType;
    h.BodyLength = bodyLength;
    h.RequestId = requestId;
    unsigned char bytes[FrameHeaderSize];
    EncodeHeader(h, bytes);
    return std::string(reinterpret_cast<char*>(bytes), sizeof bytes);
}

std::string Frame(std::uint32_t msgType, const std::string& body, std::int32_t requestId,
                  std::uint32_t isLast, std::uint32_t marker)
{
    std::string frame = RawHeader(msgType, static_cast<std::uint32_t>(body.size()), requestId, marker);
    PutU32(reinterpret_cast<unsigned char*>(&frame[20]), isLast);
    return frame + body;
}

CThostFtdcRspInfoField RspInfo(int errorId, const char* message)
{
    CThostFtdcRspInfoField info{};
    info.ErrorID = errorId;
    std::strncpy(info.ErrorMsg, message, sizeof info.ErrorMsg - 1);
    return info;
}

std::string InstrumentBody(const char* instrument)
{
    CThostFtdcSpecificInstrumentField record{};
    std::strncpy(record.InstrumentID, instrument, sizeof record.InstrumentID - 1);
    return Bytes(record);
}

const WireFrame WireFrames[10] = {
    {"sub md response",
     "\x44\xFE\0\0"
     "\x01\0\x05\x20"
     "\x1F\0\0\0"
     "\x07\0\0\0"
     "\0\0\0\0"
     "\x01\0\0\0",
     31, nullptr, "RspSubMarketData", 7, true},
    {"unsub md response",
     "\x44\xFE\0\0"
     "\x02\0\x05\x20"
     "\x1F\0\0\0"
     "\x08\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0",
     31, nullptr, "RspUnSubMarketData", 8, false},
    {"login response",
     "\x44\xFE\0\0"
     "\x03\0\x05\x20"
     "\xA0\0\0\0"
     "\xFF\xFF\xFF\xFF"
     "\0\0\0\0"
     "\x01\0\0\0",
     160, nullptr, "RspUserLogin", -1, true},
    {"sub quote response",
     "\x44\xFE\0\0"
     "\x05\0\x05\x20"
     "\x1F\0\0\0"
     "\x09\0\0\0"
     "\0\0\0\0"
     "\x01\0\0\0",
     31, nullptr, "RspSubForQuoteRsp", 9, true},
    {"unsub quote response",
     "\x44\xFE\0\0"
     "\x06\0\x05\x20"
     "\x1F\0\0\0"
     "\x0A\0\0\0"
     "\0\0\0\0"
     "\x01\0\0\0",
     31, nullptr, "RspUnSubForQuoteRsp", 10, true},
    {"binary depth",
     "\x44\xFE\0\0"
     "\x01\0\x05\x40"
     "\x98\x01\0\0"
     "\0\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0",
     408, nullptr, "RtnDepthMarketData", 0, false},
    {"text depth",
     "\x55\xFE\0\0"
     "\x01\0\x05\x40"
     "\x07\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0",
     7,
     "\x01"
     "au2612",
     "RtnDepthMarketData", 0, false},
    {"joined text depth",
     "\x66\xFE\0\0"
     "\x01\0\x05\x40"
     "\x0A\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0",
     10,
     "EX\x01"
     "AB12\x01"
     "Z9",
     "RtnDepthMarketData", 0, false},
    {"depth, unknown marker",
     "\x77\xFE\0\0"
     "\x01\0\x05\x40"
     "\x06\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0",
     6, "au2612", "RtnDepthMarketData", 0, false},
    {"for-quote notice",
     "\x44\xFE\0\0"
     "\x02\0\x05\x40"
     "\x58\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0"
     "\0\0\0\0",
     88, nullptr, "RtnForQuoteRsp", 0, false},
};

std::string WireBytes(const WireFrame& f)
{
    std::string bytes(f.header, 24);
    bytes += f.body ? std::string(f.body, f.bodySize) : std::string(f.bodySize, '\0');
    return bytes;
}

FrameHeader SentHeader(std::size_t index)
{
    const std::string& bytes = fake::World::Get().sent.at(index).bytes;
    EXPECT_GE(bytes.size(), FrameHeaderSize);
    return DecodeHeader(reinterpret_cast<const unsigned char*>(bytes.data()));
}

std::string SentBody(std::size_t index)
{
    return fake::World::Get().sent.at(index).bytes.substr(FrameHeaderSize);
}

std::vector<std::string> Messages()
{
    std::vector<std::string> out;
    for (const std::string& line : fake::World::Get().Texts()) {
        const std::size_t at = line.find(" - ");
        out.push_back(at == std::string::npos ? line : line.substr(at + 3));
    }
    return out;
}

bool Logged(const std::string& message)
{
    for (const std::string& m : Messages())
        if (m == message)
            return true;
    return false;
}

void ClientFixture::SetUp()
{
    api = CThostFtdcMdApi::CreateFtdcMdApi();
    client = static_cast<CKelvoMDClient*>(api);
    conn = client;
    api->RegisterSpi(&spi);
}

void ClientFixture::Release()
{
    if (api)
        api->Release();
    api = nullptr;
    client = nullptr;
    conn = nullptr;
    fake::World::Get().RunPosted();
}

void ClientFixture::TearDown()
{
    Release();
    fake::World::Get().pending.clear();
}

void ClientFixture::Start(const std::vector<std::string>& fronts, bool connect)
{
    for (const std::string& front : fronts)
        api->RegisterFront(const_cast<char*>(front.c_str()));
    api->Init();
    if (connect)
        fake::ConnectOk(conn);
    spi.events.clear();
}

} // namespace test
