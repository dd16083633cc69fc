// The library as an application uses it: a client whose callback counts
// records or samples their latency.
#include "Allocations.h"
#include "Receivers.h"
#include "Stream.h"

#include "MdApi.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace bench {

namespace {

class BenchSpi : public CThostFtdcMdSpi {
public:
    enum Mode { Count, Sample, Allocations };

    BenchSpi(long frames, long warmup, Mode mode)
        : frames_(frames), warmup_(warmup), sample_(mode == Sample), allocations_(mode == Allocations)
    {
        if (sample_)
            samples.reserve(static_cast<std::size_t>(frames));
    }

    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override
    {
        // The clock is read per frame only when sampling latency.
        if (seen_ == 0) {
            first = NowNs();
            firstCpu = ThreadCpuNs(); // the loop thread's
        }
        if (sample_ && seen_ >= warmup_)
            samples.push_back(NowNs() - static_cast<std::int64_t>(d->PreDelta));
        if (allocations_ && seen_ == warmup_)
            StartCountingHere();
        if (++seen_ == frames_) {
            last = NowNs();
            lastCpu = ThreadCpuNs();
            if (allocations_)
                allocationCount = StopCounting();
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            cv_.notify_all();
        }
    }

    void Wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::minutes(5), [&] { return done_; }))
            throw std::runtime_error("the library did not receive every frame");
    }

    std::int64_t first = 0, last = 0, firstCpu = 0, lastCpu = 0;
    std::vector<std::int64_t> samples;
    long allocationCount = 0;

private:
    long frames_, warmup_;
    bool sample_, allocations_;
    long seen_ = 0;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

void Run(int port, BenchSpi& spi)
{
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
    api->RegisterSpi(&spi);
    char front[64];
    std::snprintf(front, sizeof front, "tcp://127.0.0.1:%d", port);
    api->RegisterFront(front);
    api->Init();
    spi.Wait();
    api->Release();
}

} // namespace

Throughput LibraryThroughput(int port, long frames)
{
    BenchSpi spi(frames, 0, BenchSpi::Count);
    Run(port, spi);
    Throughput t;
    t.frames = frames;
    t.seconds = static_cast<double>(spi.last - spi.first) / 1e9;
    t.cpuSeconds = static_cast<double>(spi.lastCpu - spi.firstCpu) / 1e9;
    return t;
}

std::vector<std::int64_t> LibraryLatency(int port, long frames, long warmup)
{
    BenchSpi spi(frames, warmup, BenchSpi::Sample);
    Run(port, spi);
    return spi.samples;
}

long LibraryAllocations(int port, long frames, long warmup)
{
    BenchSpi spi(frames, warmup, BenchSpi::Allocations);
    Run(port, spi);
    return spi.allocationCount;
}

namespace {

class ConnectedSpi : public CThostFtdcMdSpi {
public:
    void OnFrontConnected() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++connected;
        cv.notify_all();
    }
    std::mutex mutex;
    std::condition_variable cv;
    int connected = 0;
};

} // namespace

long IdleClientsKiB(int port, int clients)
{
    ConnectedSpi spi;
    char front[64];
    std::snprintf(front, sizeof front, "tcp://127.0.0.1:%d", port);
    const long before = ResidentKiB();
    std::vector<CThostFtdcMdApi*> apis;
    for (int i = 0; i < clients; ++i) {
        apis.push_back(CThostFtdcMdApi::CreateFtdcMdApi());
        apis.back()->RegisterSpi(&spi);
        apis.back()->RegisterFront(front);
        apis.back()->Init();
    }
    {
        std::unique_lock<std::mutex> lock(spi.mutex);
        if (!spi.cv.wait_for(lock, std::chrono::minutes(1), [&] { return spi.connected == clients; }))
            throw std::runtime_error("idle clients did not connect");
    }
    const long after = ResidentKiB();
    for (CThostFtdcMdApi* api : apis)
        api->Release();
    return after - before;
}

} // namespace bench
