// The reference text decoder: what a careful hand-written decoder costs. It
// walks the fields in place with memchr, parses numbers with from_chars and
// copies texts straight into the record; no allocation. The library's own
// decoder is measured against it in bench_micro, and bench_e2e's raw
// receiver decodes text with it.
#pragma once

#include "MdApi.h"

#include <charconv>
#include <cstddef>
#include <cstring>

namespace bench {

class ReferenceDecoder {
public:
    explicit ReferenceDecoder(CThostFtdcDepthMarketDataField& r) : r_(r) {}

    void Decode(const char* p, std::size_t n)
    {
        const char* end = p + n;
        for (int index = 0;; ++index) {
            const char* stop =
                static_cast<const char*>(std::memchr(p, '\x01', static_cast<std::size_t>(end - p)));
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
        CThostFtdcDepthMarketDataField& r = r_;
        switch (i) {
        case 0: Text(r.ExchangeID, b, e); break;
        case 1:
            Text(r.ExchangeInstID, b, e);
            Text(r.InstrumentID, b, e);
            break;
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

    CThostFtdcDepthMarketDataField& r_;
};

} // namespace bench
