// The reading mode: records from the stream onto the board, ticker and CSV
// file mdcli shows, as if a front had sent them, with the relay's receive time;
// or, with --capture, into capture files with that time.
#include "BusConsumer.h"
#include "CaptureTap.h"
#include "ClientSession.h"
#include "CsvWriter.h"
#include "Interrupt.h"
#include "Modes.h"
#include "NatsLink.h"
#include "ReadOptions.h"
#include "Screen.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace mdrelay {

namespace {

constexpr std::chrono::milliseconds RefreshPeriod{100};
constexpr std::int64_t CloseWaitMs = 5000;

int Fail(int code, const std::string& message)
{
    std::fprintf(stderr, "mdrelay: %s\n", message.c_str());
    return code;
}

// Where records read go besides the board; each takes the threads of
// several filters at once.
struct Outputs {
    mdtools::CsvWriter* csv = nullptr;
    mdtools::CaptureTap* capture = nullptr;
};

// On the client library's threads; board and file take their own locks.
void Show(const BusDelivery& d, mdtools::MarketBoard& board, Outputs& out)
{
    const long long recvUs = d.info.recvNs / 1000;
    if (d.info.kind == RecordKind::Depth) {
        CThostFtdcDepthMarketDataField depth;
        std::memcpy(&depth, d.payload, sizeof depth);
        board.AddDepth(depth, recvUs);
        if (out.csv)
            out.csv->Write(recvUs, depth);
        if (out.capture)
            out.capture->Add(depth, d.info.recvNs);
    } else {
        CThostFtdcForQuoteRspField notice;
        std::memcpy(&notice, d.payload, sizeof notice);
        board.AddForQuote();
        board.AddEvent(mdtools::ClientSession::ForQuoteText(notice));
    }
}

std::string Describe(const ReadOptions& o, const std::vector<std::string>& filters)
{
    std::string text = "stream " + o.bus.stream + ", ";
    for (std::size_t i = 0; i < filters.size(); ++i)
        text += (i ? "," : "") + filters[i];
    if (!o.durable.empty())
        text += ", durable " + o.durable;
    return text;
}

// What the client library calls back into; it outlives the library's threads.
struct Parts {
    mdtools::MarketBoard board;
    mdtools::CsvWriter csv;
    std::unique_ptr<mdtools::CaptureTap> capture;
    Outputs out;
    NatsLink link;
    BusConsumer consumer{[this](const BusDelivery& d) { Show(d, board, out); }};
};

// Where a capture's records came from, without what a server address may
// carry before its '@'.
std::vector<std::string> Sources(const ReadOptions& o)
{
    std::vector<std::string> sources;
    for (std::string url : o.bus.servers) {
        const auto scheme = url.find("://");
        const std::size_t host = scheme == std::string::npos ? 0 : scheme + 3;
        const auto at = url.find('@', host);
        if (at != std::string::npos)
            url.erase(host, at + 1 - host);
        sources.push_back(url + " stream " + o.bus.stream);
    }
    return sources;
}

int Read(const ReadOptions& o, Parts& p)
{
    std::string error;
    if (!p.link.Connect(o.bus, error))
        return Fail(p.link.ConfigFailed() ? ExitUsage : ExitNoBus, error);
    ConsumerSpec spec;
    spec.stream = o.bus.stream;
    spec.filters = ReadFilters(o);
    spec.start = o.start;
    spec.durable = o.durable;
    if (!p.consumer.Start(p.link.Connection(), spec, error))
        return Fail(ExitStream, error);
    for (const std::string& warning : p.consumer.Warnings())
        std::fprintf(stderr, "mdrelay: %s\n", warning.c_str());
    p.board.AddEvent("reading " + Describe(o, spec.filters) + " from " + p.link.ConnectedUrl());
    mdtools::InstallInterruptHandler();
    // Archiving shows no rows: only events and the summary.
    const mdtools::Display display = mdtools::ChooseDisplay(o.quiet || p.capture);
    mdtools::Ticker ticker;
    const auto start = std::chrono::steady_clock::now();
    const auto end = o.durationSeconds > 0 ? start +
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                 std::chrono::duration<double>(o.durationSeconds))
                                           : std::chrono::steady_clock::time_point::max();
    while (!mdtools::Interrupted() && !(o.toEnd && p.consumer.AtEnd()) &&
           std::chrono::steady_clock::now() < end) {
        // A duration shorter than the refresh period is kept too.
        std::this_thread::sleep_until(std::min(std::chrono::steady_clock::now() + RefreshPeriod, end));
        mdtools::Refresh(p.board, ticker, display);
    }
    p.consumer.Stop(); // no callback runs from here on
    mdtools::Refresh(p.board, ticker, display);
    std::vector<std::string> lines;
    if (p.capture) {
        p.capture->Close(); // the last block written
        lines.push_back(mdtools::CaptureSummary(o.capture.directory, p.capture->Counts()));
    }
    std::fputs(mdtools::Summary(p.board, "mdrelay", lines).c_str(), stdout);
    if (p.consumer.Skipped() > 0)
        std::printf("mdrelay: %llu messages of another format skipped\n",
                    static_cast<unsigned long long>(p.consumer.Skipped()));
    return p.board.Records() + p.board.ForQuotes() > 0 ? ExitOk : ExitUnflushed;
}

} // namespace

int RunReader(const std::vector<std::string>& args)
{
    ReadOptions o;
    std::string error;
    if (!ParseReadOptions(args, o, error))
        return Fail(ExitUsage, error + " (try --read --help)");
    if (o.help) {
        std::fputs(ReadUsage().c_str(), stdout);
        return ExitOk;
    }
    auto parts = std::make_unique<Parts>();
    if (!o.csv.empty()) {
        if (!parts->csv.Open(o.csv, error))
            return Fail(ExitUsage, error);
        parts->out.csv = &parts->csv;
    }
    if (!o.capture.directory.empty()) {
        parts->capture = mdtools::CaptureTap::Open(
            o.capture, std::string("mdrelay ") + CThostFtdcMdApi::GetApiVersion(), Sources(o), error);
        if (!parts->capture)
            return Fail(ExitUsage, error);
        parts->out.capture = parts->capture.get();
    }
    int code = Read(o, *parts);
    parts->consumer.Stop();
    parts->link.Close();
    // The client library's threads end before the objects they call back.
    nats_CloseAndWait(CloseWaitMs);
    if (!parts->csv.Close())
        code = Fail(ExitUsage, "writing " + o.csv + " failed");
    parts.reset();
    return code;
}

} // namespace mdrelay
