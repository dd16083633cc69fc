// Shared pieces of the client's unit tests: a callback object that records
// what it is given, frame builders, and a fixture holding one client on the
// fake base layer.
#pragma once

#include "FakeBase.h"
#include "MdApi.h"
#include "api/MdClient.h"
#include "wire/FrameHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace test {

struct SpiEvent {
    std::string kind; // the callback's name without "On"
    int reason = 0;
    int requestId = 0;
    bool isLast = false;
    bool hasInfo = false;
    CThostFtdcRspInfoField info{};
    std::string instrument;
    const void* recordAddress = nullptr;
    CThostFtdcRspUserLoginField login{};
    CThostFtdcDepthMarketDataField depth{};
    CThostFtdcForQuoteRspField quote{};
};

// Records every callback; onEvent runs inside the callback, after recording.
class RecordingSpi : public CThostFtdcMdSpi {
public:
    std::vector<SpiEvent> events;
    std::function<void(const SpiEvent&)> onEvent;

    std::vector<std::string> Kinds() const;
    int Count(const std::string& kind) const;

    void OnFrontConnected() override;
    void OnFrontDisconnected(int nReason) override;
    void OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int requestId,
                        bool isLast) override;
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                            int requestId, bool isLast) override;
    void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                              int requestId, bool isLast) override;
    void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                             int requestId, bool isLast) override;
    void OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                               int requestId, bool isLast) override;
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth) override;
    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* quote) override;

private:
    void Record(SpiEvent event);
    void Instrument(const char* kind, CThostFtdcSpecificInstrumentField* instrument,
                    CThostFtdcRspInfoField* info, int requestId, bool isLast);
};

// A frame as a front sends it.
std::string Frame(std::uint32_t msgType, const std::string& body, std::int32_t requestId = 0,
                  std::uint32_t isLast = 0, std::uint32_t marker = mdlink::MarkerBinary);
// A frame whose header announces a length other than the body's.
std::string RawHeader(std::uint32_t msgType, std::uint32_t bodyLength, std::int32_t requestId = 0,
                      std::uint32_t marker = mdlink::MarkerBinary);

template <class T>
std::string Bytes(const T& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// Every frame type the client receives, header bytes written out by hand from
// the protocol rather than from the named constants: a wrong constant would
// otherwise pass the frame builder and the client alike.
//   Marker | MsgType | BodyLength | RequestId | Tick | IsLast, 4 bytes each
struct WireFrame {
    const char* what;
    const char* header; // 24 bytes
    std::size_t bodySize;
    const char* body; // text bodies; the others are zero bytes
    const char* callback;
    int requestId;
    bool isLast;
};
extern const WireFrame WireFrames[10];
std::string WireBytes(const WireFrame& frame);

// Heap allocations counted between the two calls (AllocationCount.cpp).
void StartCountingAllocations();
long StopCountingAllocations();
// Bytes of heap in use by the whole program; -1 where it cannot be told.
long HeapBytesInUse();
// Called by the program's operator new (RequestsTest.cpp).
void NoteOperatorNew();

CThostFtdcRspInfoField RspInfo(int errorId, const char* message);
std::string InstrumentBody(const char* instrument);

// The frame bytes given to SendData, decoded.
mdlink::FrameHeader SentHeader(std::size_t index);
std::string SentBody(std::size_t index);

// The message part of each captured log line ("<prefix> - <message>").
std::vector<std::string> Messages();
bool Logged(const std::string& message);

class ClientFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Registers the fronts, runs Init and, unless told not to, connects;
    // then forgets the callbacks seen so far.
    void Start(const std::vector<std::string>& fronts = {"tcp://127.0.0.1:7000"}, bool connect = true);
    fake::World& world() { return fake::World::Get(); }
    void Release();

    CThostFtdcMdApi* api = nullptr;
    CKelvoMDClient* client = nullptr;
    Kelvo_TcpClientHandler* conn = nullptr;
    RecordingSpi spi;
};

} // namespace test
