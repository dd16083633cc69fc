// Text depth-record decoding against a zero-copy baseline, and the pieces it
// is made of (Split, WriteLog).
#include "MdApi.h"
#include "KelvoBase.h"
#include "wire/DepthText.h"
#include "wire/FrameHeader.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A record as a front sends it: 63 fields, prices with decimals, five levels.
std::string RealisticRecord()
{
    char buf[1024];
    int n = std::snprintf(buf, sizeof buf,
        "SHFE\x01" "au2612\x01\x01" "612.34\x01" "608.10\x01" "615.02\x01" "606.88\x01"
        "668.52\x01" "547.00\x01" "607.76\x01" "183421\x01"
        "\x01\x01\x01\x01"
        "612.32\x01" "14\x01" "612.30\x01" "27\x01" "612.28\x01" "9\x01" "612.26\x01" "31\x01"
        "612.24\x01" "5\x01"
        "\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01"
        "612.36\x01" "11\x01" "612.38\x01" "22\x01" "612.40\x01" "8\x01" "612.42\x01" "19\x01"
        "612.44\x01" "40\x01"
        "\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01"
        "10:31:07\x01" "607.92\x01" "112345678900.5\x01" "500\x01" "256318\x01" "20261207\x01"
        "612.017\x01" "0");
    return std::string(buf, static_cast<std::size_t>(n));
}

// What a hand-written decoder costs: walk the fields in place with memchr,
// parse numbers with from_chars, copy texts straight into the record.
class ZeroCopyDecoder {
public:
    explicit ZeroCopyDecoder(CThostFtdcDepthMarketDataField& r) : m_r(r) {}

    void Decode(const char* p, std::size_t n)
    {
        const char* end = p + n;
        for (int index = 0;; ++index) {
            const char* stop = static_cast<const char*>(std::memchr(p, '\x01', static_cast<std::size_t>(end - p)));
            if (!stop)
                stop = end;
            Field(index, p, stop);
            if (stop == end)
                break;
            p = stop + 1;
        }
    }

private:
    template <std::size_t N>
    static void Text(char (&member)[N], const char* b, const char* e)
    {
        std::size_t n = static_cast<std::size_t>(e - b);
        std::memcpy(member, b, n < N - 1 ? n : N - 1);
    }
    static void Price(double& m, const char* b, const char* e)
    {
        if (b != e)
            std::from_chars(b, e, m);
    }
    static void Volume(int& m, const char* b, const char* e)
    {
        if (b != e)
            std::from_chars(b, e, m);
    }

    void Field(int i, const char* b, const char* e)
    {
        CThostFtdcDepthMarketDataField& r = m_r;
        switch (i) {
        case 0: Text(r.ExchangeID, b, e); break;
        case 1: Text(r.ExchangeInstID, b, e); Text(r.InstrumentID, b, e); break;
        case 3: Price(r.LastPrice, b, e); break;
        case 4: Price(r.OpenPrice, b, e); break;
        case 5: Price(r.HighestPrice, b, e); break;
        case 6: Price(r.LowestPrice, b, e); break;
        case 7: Price(r.UpperLimitPrice, b, e); break;
        case 8: Price(r.LowerLimitPrice, b, e); break;
        case 9: Price(r.PreSettlementPrice, b, e); break;
        case 10: Volume(r.Volume, b, e); break;
        case 15: Price(r.BidPrice1, b, e); break;
        case 16: Volume(r.BidVolume1, b, e); break;
        case 17: Price(r.BidPrice2, b, e); break;
        case 18: Volume(r.BidVolume2, b, e); break;
        case 19: Price(r.BidPrice3, b, e); break;
        case 20: Volume(r.BidVolume3, b, e); break;
        case 21: Price(r.BidPrice4, b, e); break;
        case 22: Volume(r.BidVolume4, b, e); break;
        case 23: Price(r.BidPrice5, b, e); break;
        case 24: Volume(r.BidVolume5, b, e); break;
        case 35: Price(r.AskPrice1, b, e); break;
        case 36: Volume(r.AskVolume1, b, e); break;
        case 37: Price(r.AskPrice2, b, e); break;
        case 38: Volume(r.AskVolume2, b, e); break;
        case 39: Price(r.AskPrice3, b, e); break;
        case 40: Volume(r.AskVolume3, b, e); break;
        case 41: Price(r.AskPrice4, b, e); break;
        case 42: Volume(r.AskVolume4, b, e); break;
        case 43: Price(r.AskPrice5, b, e); break;
        case 44: Volume(r.AskVolume5, b, e); break;
        case 55: Text(r.UpdateTime, b, e); break;
        case 56: Price(r.PreClosePrice, b, e); break;
        case 57: Price(r.Turnover, b, e); break;
        case 58: Volume(r.UpdateMillisec, b, e); break;
        case 59: Price(r.OpenInterest, b, e); break;
        case 60: Text(r.TradingDay, b, e); break;
        case 61: Price(r.AveragePrice, b, e); break;
        case 62: Price(r.SettlementPrice, b, e); break;
        default: break;
        }
    }

    CThostFtdcDepthMarketDataField& m_r;
};

// Both decoders fill a record zeroed for each body, as the client does, on
// the stack: no heap in either, so the loops time the decoding alone.
void BM_DecodeTextRecord(benchmark::State& state)
{
    const std::string body = RealisticRecord();
    CThostFtdcDepthMarketDataField r;
    for (auto _ : state) {
        std::memset(&r, 0, sizeof r);
        mdlink::DecodeDepthText(mdlink::MarkerText, body.data(), static_cast<std::uint32_t>(body.size()), r);
        benchmark::DoNotOptimize(&r);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeTextRecord);

void BM_DecodeZeroCopyBaseline(benchmark::State& state)
{
    const std::string body = RealisticRecord();
    CThostFtdcDepthMarketDataField r;
    for (auto _ : state) {
        std::memset(&r, 0, sizeof r);
        ZeroCopyDecoder(r).Decode(body.data(), body.size());
        benchmark::DoNotOptimize(&r);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeZeroCopyBaseline);

void BM_Split63Fields(benchmark::State& state)
{
    const std::string body = RealisticRecord();
    for (auto _ : state) {
        Kelvo_StringArray fields;
        fields.Split(body.c_str(), '\x01', 0);
        benchmark::DoNotOptimize(fields.GetSize());
    }
}
BENCHMARK(BM_Split63Fields);

} // namespace
