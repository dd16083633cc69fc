#include "BarePublisher.h"

#include "BusClient.h"
#include "RecordKey.h"
#include "Stream.h"

#include <nats/nats.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace benchrelay {

namespace {

double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

BareFigures BarePublish(const std::string& urls, long records, int maxPending, double pace)
{
    // Realistic records from the simulator's walk, each made distinct (and
    // its id with it) by a number in a member no front fills.
    const std::string frames = bench::DepthFrames(bench::Form::Binary, 64);
    constexpr std::size_t FrameSize = 24 + sizeof(CThostFtdcDepthMarketDataField);
    natsOptions* opts = relaytest::ClientOptions(urls);
    natsConnection* nc = nullptr;
    jsCtx* js = nullptr;
    BareFigures f;
    jsOptions jo;
    jsOptions_Init(&jo);
    jo.PublishAsync.MaxPending = maxPending;
    if (natsConnection_Connect(&nc, opts) == NATS_OK && natsConnection_JetStream(&js, nc, &jo) == NATS_OK) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu = ProcessCpuSeconds();
        natsStatus s = NATS_OK;
        CThostFtdcDepthMarketDataField d;
        for (long i = 0; i < records && s == NATS_OK; ++i) {
            // Paced as a front sends: a look at the clock every 16 records.
            if (pace > 0 && i % 16 == 0)
                std::this_thread::sleep_until(start +
                                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                  std::chrono::duration<double>(i / pace)));
            std::memcpy(&d, frames.data() + (i % 64) * FrameSize + 24, sizeof d);
            d.PreDelta = static_cast<double>(i);
            char id[33];
            mdrelay::KeyText(mdrelay::KeyOf(1, &d, sizeof d), id);
            natsMsg* msg = nullptr;
            s = natsMsg_Create(&msg, "md.SHFE.au2612", nullptr, reinterpret_cast<const char*>(&d), sizeof d);
            if (s == NATS_OK)
                s = natsMsgHeader_Set(msg, "Nats-Msg-Id", id);
            // A full window makes the call wait a while, then time out: try again.
            while (s == NATS_OK || s == NATS_TIMEOUT)
                if ((s = js_PublishMsgAsync(js, &msg, nullptr)) == NATS_OK)
                    break;
            natsMsg_Destroy(msg);
        }
        jsPubOptions po;
        jsPubOptions_Init(&po);
        po.MaxWait = 60000;
        if (s == NATS_OK && js_PublishAsyncComplete(js, &po) == NATS_OK) {
            f.rate =
                records / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            f.cpuUsPerRecord = (ProcessCpuSeconds() - cpu) * 1e6 / records;
        }
    }
    jsCtx_Destroy(js);
    natsConnection_Destroy(nc);
    natsOptions_Destroy(opts);
    return f;
}

} // namespace benchrelay
