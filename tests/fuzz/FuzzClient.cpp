#include "FuzzClient.h"

#include "FakeBase.h"

#include <cstring>

namespace fuzz {
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
        // Read as numbers too (a price may be any double: no conversion).
        g_sink = g_sink + (r->LastPrice > 0 ? 1u : 0u) + static_cast<unsigned>(r->Volume);
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

CKelvoMDClient* Client()
{
    static TouchingSpi spi;
    static CKelvoMDClient* client = [] {
        CKelvoMDClient* c = static_cast<CKelvoMDClient*>(CThostFtdcMdApi::CreateFtdcMdApi());
        c->RegisterSpi(&spi);
        char front[] = "tcp://127.0.0.1:7000";
        c->RegisterFront(front);
        c->Init();
        fake::World::Get().recordLines = false;
        return c;
    }();
    return client;
}

void Connect()
{
    fake::ConnectOk(Client());
}

// What the input recorded is forgotten within it: an input that frees all
// it allocated spares libFuzzer its leak check.
void Disconnect()
{
    fake::World& world = fake::World::Get();
    fake::Disconnect(Client(), 104);
    world.Reset();
    world.pending.clear();
}

void Reconnect()
{
    CKelvoMDClient* client = Client();
    fake::Disconnect(client, 103);
    fake::ConnectOk(client);
}

bool Receive(const unsigned char* bytes, std::size_t size)
{
    CKelvoMDClient* client = Client();
    fake::Feed(client, reinterpret_cast<const char*>(bytes), size);
    return fake::IsConnected(client);
}

} // namespace fuzz
