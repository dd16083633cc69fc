// A 64-bit fingerprint of a depth record's members, to recognise a copy of
// a record another link brought: equal records have equal prints. The
// padding between members is left out (a front may send anything there),
// and so are TradingDay and ActionDay: two fronts that label one feed with
// different days bring the same records, not news twice.
//
// Eight independent multiply-rotate lanes over the record's 51 words; each
// step is a bijection of its lane for a given word, so records that differ
// in a single word always get different prints.
#pragma once

#include "MdApi.h"
#include "wire/DepthMembers.h"

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
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&d);
        const std::uint64_t* m = Masks().word;
        // Eight named lanes, not an array: a compiler that vectorises an
        // array of 64-bit multiplies makes them several times slower.
        std::uint64_t a = Seed, b = Seed * 3, c = Seed * 5, e = Seed * 7;
        std::uint64_t f = Seed * 9, g = Seed * 11, h = Seed * 13, k = Seed * 15;
        for (std::size_t i = 0; i < 48; i += 8) {
            a = Step(a, Word(bytes, i) & m[i]);
            b = Step(b, Word(bytes, i + 1) & m[i + 1]);
            c = Step(c, Word(bytes, i + 2) & m[i + 2]);
            e = Step(e, Word(bytes, i + 3) & m[i + 3]);
            f = Step(f, Word(bytes, i + 4) & m[i + 4]);
            g = Step(g, Word(bytes, i + 5) & m[i + 5]);
            h = Step(h, Word(bytes, i + 6) & m[i + 6]);
            k = Step(k, Word(bytes, i + 7) & m[i + 7]);
        }
        // The three words left, on three lanes.
        static_assert(Words - 48 == 3, "the tail below");
        a = Step(a, Word(bytes, 48) & m[48]);
        b = Step(b, Word(bytes, 49) & m[49]);
        c = Step(c, Word(bytes, 50) & m[50]);
        return a ^ Rotl(b, 8) ^ Rotl(c, 16) ^ Rotl(e, 24) ^ Rotl(f, 32) ^ Rotl(g, 40) ^ Rotl(h, 48) ^
            Rotl(k, 56);
    }

private:
    struct MaskTable {
        std::uint64_t word[Words];
    };

    static constexpr std::uint64_t Seed = 0x243F6A8885A308D3ull;

    static std::uint64_t Rotl(std::uint64_t v, int n) { return (v << n) | (v >> (64 - n)); }
    static std::uint64_t Step(std::uint64_t lane, std::uint64_t word)
    {
        return Rotl((lane ^ word) * 0x9E3779B97F4A7C15ull, 29);
    }
    static std::uint64_t Word(const unsigned char* bytes, std::size_t i)
    {
        std::uint64_t w;
        std::memcpy(&w, bytes + 8 * i, sizeof w);
        return w;
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
#define MDLINK_PRINT_MEMBER(kind, name, offset, width) member(offset, width);
        MDLINK_DEPTH_MEMBERS(MDLINK_PRINT_MEMBER)
#undef MDLINK_PRINT_MEMBER
        // The days are labels a front may set its own way (see above).
        std::memset(bytes + offsetof(F, TradingDay), 0, sizeof(F::TradingDay));
        std::memset(bytes + offsetof(F, ActionDay), 0, sizeof(F::ActionDay));
        MaskTable t;
        std::memcpy(t.word, bytes, sizeof t.word);
        return t;
    }
};

} // namespace mdlink
