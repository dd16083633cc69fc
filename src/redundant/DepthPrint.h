// A 64-bit fingerprint of a depth record's members, to recognise a copy of
// a record another link brought: equal records have equal prints. The
// padding between members is left out (a front may send anything there).
//
// Four independent multiply-rotate lanes over the record's 51 words; each
// step is a bijection of its lane for a given word, so records that differ
// in a single word always get different prints.
#pragma once

#include "MdApi.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mdlink {

class DepthPrint {
public:
    static constexpr std::size_t Words = sizeof(CThostFtdcDepthMarketDataField) / 8;
    static_assert(sizeof(CThostFtdcDepthMarketDataField) % 8 == 0, "a whole number of words");

    static std::uint64_t Of(const CThostFtdcDepthMarketDataField& d)
    {
        std::uint64_t w[Words];
        std::memcpy(w, &d, sizeof w);
        const std::uint64_t* m = Masks().word;
        std::uint64_t a = 0x243F6A8885A308D3ull, b = 0x13198A2E03707344ull;
        std::uint64_t c = 0xA4093822299F31D0ull, e = 0x082EFA98EC4E6C89ull;
        std::size_t i = 0;
        for (; i + 4 <= Words; i += 4) {
            a = Step(a, w[i] & m[i]);
            b = Step(b, w[i + 1] & m[i + 1]);
            c = Step(c, w[i + 2] & m[i + 2]);
            e = Step(e, w[i + 3] & m[i + 3]);
        }
        for (; i < Words; ++i)
            a = Step(a, w[i] & m[i]);
        return a ^ Rotl(b, 16) ^ Rotl(c, 32) ^ Rotl(e, 48);
    }

private:
    struct MaskTable {
        std::uint64_t word[Words];
    };

    static std::uint64_t Rotl(std::uint64_t v, int n) { return (v << n) | (v >> (64 - n)); }
    static std::uint64_t Step(std::uint64_t lane, std::uint64_t word)
    {
        return Rotl((lane ^ word) * 0x9E3779B97F4A7C15ull, 29);
    }

    static const MaskTable& Masks()
    {
        static const MaskTable table = MakeMasks();
        return table;
    }

    static MaskTable MakeMasks()
    {
        unsigned char bytes[sizeof(CThostFtdcDepthMarketDataField)] = {};
        using F = CThostFtdcDepthMarketDataField;
        auto member = [&bytes](std::size_t offset, std::size_t size) {
            std::memset(bytes + offset, 0xFF, size);
        };
#define MDLINK_PRINT_MEMBER(m) member(offsetof(F, m), sizeof(F::m))
        MDLINK_PRINT_MEMBER(TradingDay); MDLINK_PRINT_MEMBER(InstrumentID);
        MDLINK_PRINT_MEMBER(ExchangeID); MDLINK_PRINT_MEMBER(ExchangeInstID);
        MDLINK_PRINT_MEMBER(LastPrice); MDLINK_PRINT_MEMBER(PreSettlementPrice);
        MDLINK_PRINT_MEMBER(PreClosePrice); MDLINK_PRINT_MEMBER(PreOpenInterest);
        MDLINK_PRINT_MEMBER(OpenPrice); MDLINK_PRINT_MEMBER(HighestPrice);
        MDLINK_PRINT_MEMBER(LowestPrice); MDLINK_PRINT_MEMBER(Volume);
        MDLINK_PRINT_MEMBER(Turnover); MDLINK_PRINT_MEMBER(OpenInterest);
        MDLINK_PRINT_MEMBER(ClosePrice); MDLINK_PRINT_MEMBER(SettlementPrice);
        MDLINK_PRINT_MEMBER(UpperLimitPrice); MDLINK_PRINT_MEMBER(LowerLimitPrice);
        MDLINK_PRINT_MEMBER(PreDelta); MDLINK_PRINT_MEMBER(CurrDelta);
        MDLINK_PRINT_MEMBER(UpdateTime); MDLINK_PRINT_MEMBER(UpdateMillisec);
        MDLINK_PRINT_MEMBER(BidPrice1); MDLINK_PRINT_MEMBER(BidVolume1);
        MDLINK_PRINT_MEMBER(AskPrice1); MDLINK_PRINT_MEMBER(AskVolume1);
        MDLINK_PRINT_MEMBER(BidPrice2); MDLINK_PRINT_MEMBER(BidVolume2);
        MDLINK_PRINT_MEMBER(AskPrice2); MDLINK_PRINT_MEMBER(AskVolume2);
        MDLINK_PRINT_MEMBER(BidPrice3); MDLINK_PRINT_MEMBER(BidVolume3);
        MDLINK_PRINT_MEMBER(AskPrice3); MDLINK_PRINT_MEMBER(AskVolume3);
        MDLINK_PRINT_MEMBER(BidPrice4); MDLINK_PRINT_MEMBER(BidVolume4);
        MDLINK_PRINT_MEMBER(AskPrice4); MDLINK_PRINT_MEMBER(AskVolume4);
        MDLINK_PRINT_MEMBER(BidPrice5); MDLINK_PRINT_MEMBER(BidVolume5);
        MDLINK_PRINT_MEMBER(AskPrice5); MDLINK_PRINT_MEMBER(AskVolume5);
        MDLINK_PRINT_MEMBER(AveragePrice); MDLINK_PRINT_MEMBER(ActionDay);
#undef MDLINK_PRINT_MEMBER
        MaskTable t;
        std::memcpy(t.word, bytes, sizeof t.word);
        return t;
    }
};

} // namespace mdlink
