// Arbitrary bytes from a front, in arbitrary chunks, through the client's
// receive path. The callback object reads every byte of what it is given, so
// the sanitizers see any read past a record or an unterminated text.
#include "FakeBase.h"
#include "api/MdClient.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile unsigned g_sink;

template <class T>
void Touch(const T* record)
{
    if (!record)
        return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(record);
    unsigned sum = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        sum += p[i];
    g_sink = g_sink + sum;
}

void TouchText(const char* text)
{
    g_sink = g_sink + static_cast<unsigned>(std::strlen(text));
}

class TouchingSpi : public CThostFtdcMdSpi {
public:
    void OnRspUserLogin(CThostFtdcRspUserLoginField* r, CThostFtdcRspInfoField* i, int, bool) override
    {
        Touch(r);
        Touch(i);
        TouchText(r->SystemName);
        TouchText(r->INETime);
        if (i)
            TouchText(i->ErrorMsg);
    }
    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* r, CThostFtdcRspInfoField* i, int,
                            bool) override
    {
        Instrument(r, i);
    }
    void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* r, CThostFtdcRspInfoField* i, int,
                              bool) override
    {
        Instrument(r, i);
    }
    void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* r, CThostFtdcRspInfoField* i, int,
                             bool) override
    {
        Instrument(r, i);
    }
    void OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* r, CThostFtdcRspInfoField* i, int,
                               bool) override
    {
        Instrument(r, i);
    }
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* r) override
    {
        Touch(r);
        TouchText(r->TradingDay);
        TouchText(r->InstrumentID);
        TouchText(r->ExchangeID);
        TouchText(r->ExchangeInstID);
        TouchText(r->UpdateTime);
        TouchText(r->ActionDay);
        g_sink = g_sink + static_cast<unsigned>(r->LastPrice + r->Volume);
    }
    void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* r) override
    {
        Touch(r);
        TouchText(r->ExchangeID);
    }

private:
    void Instrument(CThostFtdcSpecificInstrumentField* r, CThostFtdcRspInfoField* i)
    {
        Touch(r);
        TouchText(r->InstrumentID);
        Touch(i);
        if (i)
            TouchText(i->ErrorMsg);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TouchingSpi spi;
    static CKelvoMDClient* client = [] {
        CKelvoMDClient* c = static_cast<CKelvoMDClient*>(CThostFtdcMdApi::CreateFtdcMdApi());
        c->RegisterSpi(&spi);
        char front[] = "tcp://127.0.0.1:7000";
        c->RegisterFront(front);
        c->Init();
        return c;
    }();
    fake::World& world = fake::World::Get();
    world.Reset();
    world.sent.clear();
    fake::ConnectOk(client);

    // The first byte chooses the chunk size; the rest is the stream.
    if (size == 0)
        return 0;
    const std::size_t chunk = 1 + data[0] % 64;
    const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
    fake::FeedChunked(client, stream, {chunk});
    // Each input is a connection of its own.
    fake::Disconnect(client, 104);
    world.pending.clear();
    return 0;
}
