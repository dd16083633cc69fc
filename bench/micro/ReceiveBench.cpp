// The client's receive path over an in-memory stream of binary depth frames:
// what OnRecvBuffer/OnRecvData/HandleMsg (with its idle-timer re-arm) cost
// per frame, driven on the loop thread exactly as the base layer drives it,
// into an empty callback. And one log record.
#include "MdApi.h"
#include "api/MdClient.h"
#include "wire/FrameHeader.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace {

class CountingSpi : public CThostFtdcMdSpi {
public:
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField*) override { ++count; }
    long count = 0;
};

std::string BinaryFrames(int n)
{
    CThostFtdcDepthMarketDataField d;
    std::memset(&d, 0, sizeof d);
    std::strcpy(d.InstrumentID, "au2612");
    d.LastPrice = 612.34;
    mdlink::FrameHeader h;
    h.Marker = mdlink::MarkerBinary;
    h.MsgType = mdlink::MsgDepthMarketData;
    h.BodyLength = sizeof d;
    unsigned char head[mdlink::FrameHeaderSize];
    mdlink::EncodeHeader(h, head);
    std::string frame(reinterpret_cast<char*>(head), sizeof head);
    frame.append(reinterpret_cast<const char*>(&d), sizeof d);
    std::string stream;
    for (int i = 0; i < n; ++i)
        stream += frame;
    return stream;
}

struct ReceiveArgs {
    benchmark::State* state;
    CKelvoMDClient* client;
    const std::string* stream;
};

// What the base layer does with one read's worth of bytes.
void Drive(CKelvoMDClient& client, const std::string& stream)
{
    const char* p = stream.data();
    long ready = static_cast<long>(stream.size());
    for (;;) {
        long size = ready;
        char* buffer = client.OnRecvBuffer(size);
        if (size == 0)
            break;
        std::memcpy(buffer, p, static_cast<std::size_t>(size));
        p += size;
        ready -= size;
        client.OnRecvData(buffer, size);
    }
}

void BM_ReceiveBinaryFrames(benchmark::State& state)
{
    constexpr int FramesPerRead = 150; // about one 64 KiB read
    const std::string stream = BinaryFrames(FramesPerRead);
    CountingSpi spi;
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
    api->RegisterSpi(&spi);
    // Nothing listens there: the supervisor exists, the link stays down.
    char front[] = "tcp://127.0.0.1:1";
    api->RegisterFront(front);
    api->Init();
    ReceiveArgs args{&state, static_cast<CKelvoMDClient*>(api), &stream};
    Kelvo_LOOP_Call(
        [](void* p) {
            auto* a = static_cast<ReceiveArgs*>(p);
            for (auto _ : *a->state)
                Drive(*a->client, *a->stream);
        },
        &args);
    api->Release();
    state.SetItemsProcessed(state.iterations() * FramesPerRead);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_ReceiveBinaryFrames)->UseRealTime();

void BM_WriteLog(benchmark::State& state)
{
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
    CKelvoMDClient* client = static_cast<CKelvoMDClient*>(api);
    for (auto _ : state)
        client->WriteLog(3, "HeartBeat", "Set HeartBeat Timer 0x%08x", 0x1234u);
    api->Release();
}
BENCHMARK(BM_WriteLog);

} // namespace
