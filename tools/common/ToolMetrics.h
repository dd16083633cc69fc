// A tool's own metrics page (--metrics [HOST]:PORT): the tool serves it
// from a listener of its own, built from the library's listener and format
// writer compiled into the tool (libmdlink exports neither). A tool with
// library clients also has the library serve its page on a loopback port of
// the tool's choosing, and each scrape of the tool's page fetches that page
// and serves it merged with the tool's own families: one scrape, both.
#pragma once

#include "metrics/Exposition.h"
#include "metrics/Listener.h"

#include "RedundantMdApi.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mdtools {

// --metrics's value: [HOST]:PORT as MDLINK_METRICS reads it.
bool ValidMetricsAddress(const std::string& text);
constexpr const char* MetricsFlagHelp =
    "serve Prometheus metrics at http://HOST:PORT/metrics (no HOST: 127.0.0.1; PORT 0: any free one)";

// How long a scrape waits for the library's page.
constexpr std::chrono::milliseconds LibraryPageWait{500};

// Picks a free loopback port (bound, then let go) and sets MDLINK_METRICS
// to it in this process's environment; the library reads it when the
// first client is made. 0 when no port could be had.
unsigned short ServeLibraryPageOnLoopback();

// The body of GET path (/metrics) on 127.0.0.1:port, within wait; false
// when no 200 answer came whole.
bool FetchPage(unsigned short port, std::chrono::milliseconds wait, std::string& body,
               const std::string& path = "/metrics");

// The library's page followed by the tool's: a family of the tool's that
// the library's page has already (same name) gives its samples to it, as
// the format wants each family's lines together and described once.
std::string MergePages(const std::string& library, const std::string& own);

// A histogram counted with relaxed atomics: any thread observes, a scrape
// reads without a lock. Bounds in seconds, ascending.
class SecondsHistogram {
public:
    explicit SecondsHistogram(std::vector<double> bounds);
    void Observe(double seconds);
    void Write(mdlink::metrics::ExpositionWriter& out, const char* name,
               const mdlink::metrics::Labels& labels) const;

private:
    const std::vector<double> bounds_;
    std::unique_ptr<std::atomic<std::uint64_t>[]> counts_; // bounds_.size() + 1
    std::atomic<std::uint64_t> sumNs_{0};
};

// A redundant client's links as the library shows its own: per link
// mdlink_connected, mdlink_logged_in, mdlink_reconnections_total,
// mdlink_login_refusals_total, mdlink_records_total and the
// mdlink_redundant_* families, labels client, front and link.
void WriteLinks(mdlink::metrics::ExpositionWriter& out, const std::string& client,
                const mdlink::RedundantLinkCounters* links, int count);

// mdlink_tool_records_delivered_total: depth records the tool's session
// handed on (to its ticker, its file, or its queue).
void WriteDelivered(mdlink::metrics::ExpositionWriter& out, std::uint64_t records);

// The tool's listener. own renders the tool's families; with a library
// port, each scrape serves the library's page merged with them, and
// mdlink_tool_library_page_up says whether it could be fetched.
class ToolMetrics {
public:
    using Own = std::function<void(mdlink::metrics::ExpositionWriter&)>;
    // Null with the reason in error when it cannot serve.
    static std::unique_ptr<ToolMetrics> Start(const mdlink::metrics::ListenAddress& address, Own own,
                                              unsigned short libraryPort, std::string& error);
    // A tool's --metrics value (checked with its flags) served: says where
    // on stdout, or why not on stderr and gives null.
    static std::unique_ptr<ToolMetrics> Serve(const char* tool, const std::string& where, Own own,
                                              unsigned short libraryPort);
    std::string Where() const; // "HOST:PORT" as bound
    std::string Page() const;  // what a scrape gets

private:
    ToolMetrics(Own own, unsigned short libraryPort) : own_(std::move(own)), libraryPort_(libraryPort) {}
    Own own_;
    unsigned short libraryPort_;
    std::unique_ptr<mdlink::metrics::Listener> listener_;
};

} // namespace mdtools
