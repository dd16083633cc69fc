// What capture costs the receiving thread: a record into the queue (the
// whole of Writer::Add but its counter), Writer::Add with its thread
// running, and reading a capture back from the page cache.
#include "CaptureFile.h"
#include "CaptureReader.h"
#include "CaptureWriter.h"
#include "RecordQueue.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

CThostFtdcDepthMarketDataField Record(int i)
{
    CThostFtdcDepthMarketDataField d;
    std::memset(&d, 0, sizeof d);
    std::strcpy(d.TradingDay, "20261209");
    std::snprintf(d.InstrumentID, sizeof d.InstrumentID, "rb26%02d", i % 12);
    std::strcpy(d.UpdateTime, "10:11:12");
    d.UpdateMillisec = i % 1000;
    d.LastPrice = 4000 + i % 50;
    d.BidPrice1 = d.LastPrice - 1;
    d.AskPrice1 = d.LastPrice + 1;
    d.Volume = i;
    return d;
}

// The producer's side alone: batches pushed (timed), then taken off (not).
void BM_CaptureQueuePush(benchmark::State& state)
{
    constexpr int Batch = 4096;
    mdcapture::RecordQueue queue(Batch);
    const auto record = Record(1);
    std::int64_t ns = 0;
    for (auto _ : state) {
        for (int i = 0; i < Batch; ++i)
            benchmark::DoNotOptimize(queue.Push(record, ++ns));
        state.PauseTiming();
        while (queue.Front())
            queue.Pop();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * Batch);
}
BENCHMARK(BM_CaptureQueuePush);

// A record in and out at once: the queue's cost when the writer keeps up
// and the slot is in this core's cache (the copy, the padding, two atomics).
void BM_CaptureQueuePushPop(benchmark::State& state)
{
    mdcapture::RecordQueue queue(64);
    const auto record = Record(1);
    std::int64_t ns = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(queue.Push(record, ++ns));
        benchmark::DoNotOptimize(queue.Front());
        queue.Pop();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CaptureQueuePushPop);

// Writer::Add with the writer thread compressing and writing to /tmp. The
// loop adds faster than any compressor takes records, so the queue fills
// and refused records (counted, "dropped") are part of the figure.
void BM_CaptureAdd(benchmark::State& state)
{
    char dir[] = "/tmp/capture-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    mdcapture::WriterOptions options;
    options.directory = dir;
    options.writer = "bench";
    std::string error;
    auto writer = mdcapture::Writer::Open(options, error);
    const auto record = Record(1);
    std::int64_t ns = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(writer->Add(record, ++ns));
    writer->Close();
    const auto stats = writer->Stats();
    state.counters["dropped"] = static_cast<double>(stats.dropped) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations());
    for (const auto& file : writer->Files())
        unlink(file.c_str());
    rmdir(dir);
}
BENCHMARK(BM_CaptureAdd);

// What the writer thread sustains: 200,000 records of 12 instruments added
// (waiting whenever the ring is full), compressed and written, to Close.
void BM_CaptureWriterThroughput(benchmark::State& state)
{
    char dir[] = "/tmp/capture-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    constexpr int Count = 200000;
    std::vector<CThostFtdcDepthMarketDataField> records;
    for (int i = 0; i < Count; ++i)
        records.push_back(Record(i));
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        mdcapture::WriterOptions options;
        options.directory = dir;
        options.writer = "bench";
        options.level = static_cast<int>(state.range(0));
        std::string error;
        auto writer = mdcapture::Writer::Open(options, error);
        for (int i = 0; i < Count; ++i)
            while (!writer->Add(records[i], i))
                std::this_thread::yield();
        writer->Close();
        bytes = writer->Stats().bytes;
        for (const auto& file : writer->Files())
            unlink(file.c_str());
    }
    rmdir(dir);
    state.SetItemsProcessed(state.iterations() * Count);
    state.counters["file_bytes_per_record"] = static_cast<double>(bytes) / Count;
}
BENCHMARK(BM_CaptureWriterThroughput)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading: every record of a 100,000-record capture, from the page cache.
void BM_CaptureRead(benchmark::State& state)
{
    const std::string path = "/tmp/capture-bench-read-" + std::to_string(getpid()) + ".mdcap";
    std::string error;
    {
        mdcapture::FileHeader header{
            mdcapture::FormatVersion, "bench", "20261209", {}, {mdcapture::DepthLayout()}};
        auto file = mdcapture::FileWriter::Create(path, header, static_cast<int>(state.range(0)), error);
        for (int i = 0; i < 100000; ++i) {
            char bytes[sizeof(CThostFtdcDepthMarketDataField)];
            mdcapture::CopyZeroingPadding(Record(i), bytes);
            file->Append(1000 * i, mdcapture::RecordKind::Depth, bytes, sizeof bytes);
        }
        file->Close();
    }
    std::int64_t records = 0;
    for (auto _ : state) {
        auto reader = mdcapture::Reader::Open(path, error);
        mdcapture::BlockInfo info{};
        std::vector<mdcapture::RecordView> views;
        while (reader->NextBlock(info) && reader->ReadBlock(views))
            records += static_cast<std::int64_t>(views.size());
    }
    state.SetItemsProcessed(records);
    state.SetBytesProcessed(records * static_cast<std::int64_t>(sizeof(CThostFtdcDepthMarketDataField)));
    unlink(path.c_str());
}
BENCHMARK(BM_CaptureRead)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

} // namespace
