// mdcli: a market-data client on the published interface only.
#include "CaptureTap.h"
#include "CliOptions.h"
#include "ClientSession.h"
#include "CsvWriter.h"
#include "Interrupt.h"
#include "LinkSummary.h"
#include "MarketBoard.h"
#include "MdApi.h"
#include "NewClient.h"
#include "Screen.h"
#include "Ticker.h"
#include "ToolMetrics.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr std::chrono::milliseconds RefreshPeriod{100}; // at most ten redraws a second

bool Expired(const mdcli::CliOptions& opts, std::chrono::steady_clock::time_point start)
{
    return opts.duration_seconds > 0 &&
        std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(opts.duration_seconds);
}

} // namespace

int main(int argc, char** argv)
{
    mdcli::CliOptions opts;
    std::string error;
    if (!mdcli::ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), opts, error)) {
        std::fprintf(stderr, "mdcli: %s (try --help)\n", error.c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(mdcli::CliUsage().c_str(), stdout);
        return 0;
    }
    if (!mdtools::ResolvePassword(opts, std::getenv(mdcli::PasswordVariable), error)) {
        std::fprintf(stderr, "mdcli: %s\n", error.c_str());
        return 2;
    }
    mdtools::CsvWriter csv;
    if (!opts.csv.empty() && !csv.Open(opts.csv, error)) {
        std::fprintf(stderr, "mdcli: %s\n", error.c_str());
        return 1;
    }
    // The library's page on a loopback port of ours, turned on before the
    // first client is made: each scrape of ours serves it with our figures.
    const unsigned short libraryPort = opts.metrics.empty() ? 0 : mdtools::ServeLibraryPageOnLoopback();
    std::unique_ptr<mdtools::CaptureTap> capture;
    if (!opts.capture.directory.empty()) {
        capture = mdtools::CaptureTap::Open(
            opts.capture, std::string("mdcli ") + CThostFtdcMdApi::GetApiVersion(), opts.fronts, error);
        if (!capture) {
            std::fprintf(stderr, "mdcli: %s\n", error.c_str());
            return 1;
        }
    }
    const mdtools::Display display = mdtools::ChooseDisplay(opts.quiet);
    mdtools::MarketBoard board;
    mdtools::ClientSession spi(opts, board, opts.csv.empty() ? nullptr : &csv);
    spi.Capture(capture.get());
    mdlink::CRedundantMdApi* redundant = nullptr;
    CThostFtdcMdApi* api = mdtools::NewClient(opts.links, redundant);
    spi.Attach(api);
    api->RegisterSpi(&spi);
    std::vector<std::string> fronts = opts.fronts; // the interface takes mutable text
    for (std::string& front : fronts)
        api->RegisterFront(&front[0]);
    std::printf("mdcli on library version %s, %s front(s)\n", CThostFtdcMdApi::GetApiVersion(),
                std::to_string(fronts.size()).c_str());
    std::unique_ptr<mdtools::ToolMetrics> metrics;
    if (!opts.metrics.empty()) {
        metrics = mdtools::ToolMetrics::Serve(
            "mdcli", opts.metrics,
            [&spi, redundant](mdlink::metrics::ExpositionWriter& out) {
                mdtools::WriteDelivered(out, spi.Delivered());
                if (redundant) {
                    mdlink::RedundantLinkCounters links[mdlink::RedundantMaxLinks];
                    const int n = redundant->GetLinkCounters(links, mdlink::RedundantMaxLinks);
                    mdtools::WriteLinks(out, "mdcli", links, n);
                }
            },
            libraryPort);
        if (!metrics) {
            api->Release();
            return 1;
        }
    }
    mdtools::InstallInterruptHandler();
    api->Init();

    mdtools::Ticker ticker;
    const auto start = std::chrono::steady_clock::now();
    while (!mdtools::Interrupted() && !Expired(opts, start)) {
        std::this_thread::sleep_for(RefreshPeriod);
        mdtools::Refresh(board, ticker, display);
    }
    mdlink::RedundantLinkCounters links[mdlink::RedundantMaxLinks];
    const int linkCount = redundant ? redundant->GetLinkCounters(links, mdlink::RedundantMaxLinks) : 0;
    metrics.reset(); // no scrape reads the clients from here on
    api->Release();  // waits until no callback runs; none follows
    mdtools::Refresh(board, ticker, display);
    if (!csv.Close())
        std::fprintf(stderr, "mdcli: writing %s failed\n", opts.csv.c_str());
    std::vector<std::string> lines = mdtools::LinkSummary(links, linkCount);
    if (capture) {
        capture->Close(); // the last block written
        lines.push_back(mdtools::CaptureSummary(opts.capture.directory, capture->Counts()));
    }
    std::fputs(mdtools::Summary(board, "mdcli", lines).c_str(), stdout);
    return board.Records() > 0 ? 0 : 1;
}
