// Text depth-record decoding against a zero-copy baseline, and the pieces it
// is made of (Split, WriteLog).
#include "KelvoBase.h"
#include "MdApi.h"
#include "ReferenceDecoder.h"
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
                          "SHFE\x01"
                          "au2612\x01\x01"
                          "612.34\x01"
                          "608.10\x01"
                          "615.02\x01"
                          "606.88\x01"
                          "668.52\x01"
                          "547.00\x01"
                          "607.76\x01"
                          "183421\x01"
                          "\x01\x01\x01\x01"
                          "612.32\x01"
                          "14\x01"
                          "612.30\x01"
                          "27\x01"
                          "612.28\x01"
                          "9\x01"
                          "612.26\x01"
                          "31\x01"
                          "612.24\x01"
                          "5\x01"
                          "\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01"
                          "612.36\x01"
                          "11\x01"
                          "612.38\x01"
                          "22\x01"
                          "612.40\x01"
                          "8\x01"
                          "612.42\x01"
                          "19\x01"
                          "612.44\x01"
                          "40\x01"
                          "\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01"
                          "10:31:07\x01"
                          "607.92\x01"
                          "112345678900.5\x01"
                          "500\x01"
                          "256318\x01"
                          "20261207\x01"
                          "612.017\x01"
                          "0");
    return std::string(buf, static_cast<std::size_t>(n));
}

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
        bench::ReferenceDecoder(r).Decode(body.data(), body.size());
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
