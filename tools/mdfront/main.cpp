// mdfront: runs a FrontServer until Ctrl-C or --duration.
#include "FrontMetrics.h"
#include "FrontOptions.h"
#include "FrontServer.h"
#include "Interrupt.h"
#include "ToolMetrics.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <thread>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    mdfront::FrontOptions opts;
    std::string error;
    if (!mdfront::ParseFrontOptions(args, opts, error)) {
        std::fprintf(stderr, "mdfront: %s (try --help)\n", error.c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(mdfront::FrontUsage().c_str(), stdout);
        return 0;
    }
    if (opts.verbose)
        opts.config.on_event = [](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        };
    mdfront::FrontServer server(opts.config);
    std::uint16_t port = 0;
    try {
        port = server.Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mdfront: cannot start: %s\n", e.what());
        return 1;
    }
    for (const std::string& note : server.ReplayNotes())
        std::fprintf(stderr, "mdfront: replayed up to a fault: %s\n", note.c_str());
    std::printf("mdfront listening on %s:%u\n", opts.config.host.c_str(), static_cast<unsigned>(port));
    std::unique_ptr<mdtools::ToolMetrics> metrics;
    if (!opts.metrics.empty()) {
        metrics = mdtools::ToolMetrics::Serve(
            "mdfront", opts.metrics,
            [&server](mdlink::metrics::ExpositionWriter& out) { mdfront::WriteFrontFigures(out, server); },
            0);
        if (!metrics) {
            server.Stop();
            return 1;
        }
    }
    std::fflush(stdout);

    mdtools::InstallInterruptHandler();
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(opts.duration_seconds);
    // The main thread only watches for the end; the server runs on its own.
    while (!mdtools::Interrupted() &&
           (opts.duration_seconds <= 0 || std::chrono::steady_clock::now() - start < limit))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    metrics.reset(); // no scrape reads the server from here on
    server.Stop();
    return 0;
}
