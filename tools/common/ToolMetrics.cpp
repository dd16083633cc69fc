#include "ToolMetrics.h"

#include <asio.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace mdtools {

using mdlink::metrics::ExpositionWriter;
using mdlink::metrics::Labels;

bool ValidMetricsAddress(const std::string& text)
{
    mdlink::metrics::ListenAddress unused;
    return mdlink::metrics::ParseListenAddress(text.c_str(), unused);
}

unsigned short ServeLibraryPageOnLoopback()
{
    asio::io_context io;
    asio::ip::tcp::acceptor probe(io);
    asio::error_code ec;
    probe.open(asio::ip::tcp::v4(), ec);
    if (!ec)
        probe.bind(asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0), ec);
    asio::ip::tcp::endpoint bound;
    if (!ec)
        bound = probe.local_endpoint(ec);
    if (ec)
        return 0;
    const std::string value = "127.0.0.1:" + std::to_string(bound.port());
#ifdef _WIN32
    _putenv_s("MDLINK_METRICS", value.c_str());
#else
    setenv("MDLINK_METRICS", value.c_str(), 1);
#endif
    return bound.port();
}

bool FetchPage(unsigned short port, std::chrono::milliseconds wait, std::string& body,
               const std::string& path)
{
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    // Read to the end of the connection: the answer is whole when it closes.
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::string reply;
    std::array<char, 16384> chunk;
    bool whole = false;
    std::function<void()> read = [&] {
        socket.async_read_some(asio::buffer(chunk), [&](const asio::error_code& ec, std::size_t n) {
            reply.append(chunk.data(), n);
            if (ec)
                whole = ec == asio::error::eof;
            else
                read();
        });
    };
    socket.async_connect(
        asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port), [&](const asio::error_code& ec) {
            if (!ec)
                asio::async_write(socket, asio::buffer(request), [&](const asio::error_code& e, std::size_t) {
                    if (!e)
                        read();
                });
        });
    io.run_for(wait);
    // Past the bound the handlers still queued go with the io_context, unrun.
    const std::size_t end = reply.find("\r\n\r\n");
    if (!whole || reply.compare(0, 13, "HTTP/1.1 200 ") != 0 || end == std::string::npos)
        return false;
    body = reply.substr(end + 4);
    return true;
}

namespace {

struct Family {
    std::string name;
    std::string head;    // HELP and TYPE
    std::string samples; // every line after them
};

// Whether a sample line is of the family: its name, or a histogram's or
// summary's name with one of their suffixes.
bool SampleOf(const std::string& line, const std::string& family)
{
    const std::string name = line.substr(0, line.find_first_of("{ "));
    if (name == family)
        return true;
    for (const char* suffix : {"_bucket", "_sum", "_count"})
        if (name == family + suffix)
            return true;
    return false;
}

std::vector<Family> Families(const std::string& page)
{
    std::vector<Family> out;
    std::size_t at = 0;
    while (at < page.size()) {
        std::size_t end = page.find('\n', at);
        end = end == std::string::npos ? page.size() : end + 1;
        std::string line = page.substr(at, end - at);
        at = end;
        if (line.find_first_not_of(" \n") == std::string::npos)
            continue;
        if (line.back() != '\n')
            line += '\n';
        if (line.compare(0, 7, "# HELP ") == 0 || line.compare(0, 7, "# TYPE ") == 0) {
            const std::string name = line.substr(7, line.find(' ', 7) - 7);
            if (out.empty() || out.back().name != name)
                out.push_back(Family{name, "", ""});
            out.back().head += line;
        } else if (line[0] == '#') {
            continue; // a comment
        } else {
            if (out.empty() || !SampleOf(line, out.back().name))
                out.push_back(Family{line.substr(0, line.find_first_of("{ ")), "", ""});
            out.back().samples += line;
        }
    }
    return out;
}

} // namespace

std::string MergePages(const std::string& library, const std::string& own)
{
    std::vector<Family> merged = Families(library);
    for (Family& mine : Families(own)) {
        bool joined = false;
        for (Family& theirs : merged)
            if (theirs.name == mine.name) {
                theirs.samples += mine.samples;
                joined = true;
                break;
            }
        if (!joined)
            merged.push_back(std::move(mine));
    }
    std::string out;
    for (const Family& f : merged)
        out += f.head + f.samples;
    return out;
}

SecondsHistogram::SecondsHistogram(std::vector<double> bounds)
    : bounds_(std::move(bounds)), counts_(new std::atomic<std::uint64_t>[bounds_.size() + 1])
{
    for (std::size_t i = 0; i <= bounds_.size(); ++i)
        counts_[i].store(0, std::memory_order_relaxed);
}

void SecondsHistogram::Observe(double seconds)
{
    std::size_t i = 0;
    while (i < bounds_.size() && seconds > bounds_[i])
        ++i;
    counts_[i].fetch_add(1, std::memory_order_relaxed);
    sumNs_.fetch_add(static_cast<std::uint64_t>(seconds > 0 ? seconds * 1e9 : 0), std::memory_order_relaxed);
}

void SecondsHistogram::Write(ExpositionWriter& out, const char* name, const Labels& labels) const
{
    std::vector<std::uint64_t> counts;
    for (std::size_t i = 0; i <= bounds_.size(); ++i)
        counts.push_back(counts_[i].load(std::memory_order_relaxed));
    out.Histogram(name, labels, bounds_, counts, sumNs_.load(std::memory_order_relaxed) / 1e9);
}

namespace {

struct LinkFamily {
    const char* name;
    const char* type;
    const char* help;
    unsigned long long (*value)(const mdlink::RedundantLinkCounters&);
};

const LinkFamily LinkFamilies[] = {
    {"mdlink_connected", "gauge", "1 while the connection to the front is up.",
     [](const mdlink::RedundantLinkCounters& c) { return static_cast<unsigned long long>(c.Up); }},
    {"mdlink_logged_in", "gauge", "1 while logged in on the connection.",
     [](const mdlink::RedundantLinkCounters& c) { return static_cast<unsigned long long>(c.LoggedIn); }},
    {"mdlink_reconnections_total", "counter", "Connections made after the first.",
     [](const mdlink::RedundantLinkCounters& c) { return c.Reconnections; }},
    {"mdlink_login_refusals_total", "counter", "Logins the front refused.",
     [](const mdlink::RedundantLinkCounters& c) { return c.LoginsRefused; }},
    {"mdlink_records_total", "counter", "Depth records received.",
     [](const mdlink::RedundantLinkCounters& c) { return c.Records; }},
    {"mdlink_redundant_first_total", "counter", "Depth records this link delivered first.",
     [](const mdlink::RedundantLinkCounters& c) { return c.First; }},
    {"mdlink_redundant_copies_total", "counter",
     "Copies of delivered records this link brought later, dropped.",
     [](const mdlink::RedundantLinkCounters& c) { return c.Copies; }},
    {"mdlink_redundant_late_copies_total", "counter", "Of those copies, the ones 8 or more deliveries back.",
     [](const mdlink::RedundantLinkCounters& c) { return c.LateCopies; }},
    {"mdlink_redundant_older_total", "counter", "Records older than the last delivered, dropped.",
     [](const mdlink::RedundantLinkCounters& c) { return c.Older; }},
    {"mdlink_redundant_held_total", "counter", "Records held while the link joined ahead of the others.",
     [](const mdlink::RedundantLinkCounters& c) { return c.Held; }},
};

} // namespace

void WriteLinks(ExpositionWriter& out, const std::string& client, const mdlink::RedundantLinkCounters* links,
                int count)
{
    if (count <= 0)
        return;
    std::vector<Labels> labels;
    for (int k = 0; k < count; ++k)
        labels.push_back({{"client", client}, {"front", links[k].Fronts}, {"link", std::to_string(k)}});
    for (const LinkFamily& family : LinkFamilies) {
        out.Family(family.name, family.type, family.help);
        for (int k = 0; k < count; ++k)
            out.Sample(family.name, labels[k], static_cast<std::uint64_t>(family.value(links[k])));
    }
    out.Family("mdlink_redundant_lateness_seconds", "histogram",
               "How long after the first copy of a record this link brought its own (one record a "
               "millisecond timed).");
    std::vector<double> bounds;
    for (unsigned int us : mdlink::RedundantLateBoundsUs)
        bounds.push_back(us / 1e6);
    for (int k = 0; k < count; ++k) {
        std::vector<std::uint64_t> counts(links[k].Late, links[k].Late + mdlink::RedundantLateBuckets);
        const double sum = static_cast<double>(links[k].LateSumUs) / 1e6;
        out.Histogram("mdlink_redundant_lateness_seconds", labels[static_cast<std::size_t>(k)], bounds,
                      counts, sum);
    }
}

void WriteDelivered(ExpositionWriter& out, std::uint64_t records)
{
    out.Family("mdlink_tool_records_delivered_total", "counter",
               "Depth records the tool's session handed on.");
    out.Sample("mdlink_tool_records_delivered_total", {}, records);
}

std::unique_ptr<ToolMetrics> ToolMetrics::Serve(const char* tool, const std::string& where, Own own,
                                                unsigned short libraryPort)
{
    mdlink::metrics::ListenAddress address;
    mdlink::metrics::ParseListenAddress(where.c_str(), address);
    std::string error;
    std::unique_ptr<ToolMetrics> metrics = Start(address, std::move(own), libraryPort, error);
    if (metrics)
        std::printf("%s metrics on http://%s/metrics\n", tool, metrics->Where().c_str());
    else
        std::fprintf(stderr, "%s: cannot serve metrics on %s: %s\n", tool, where.c_str(), error.c_str());
    std::fflush(stdout);
    return metrics;
}

std::unique_ptr<ToolMetrics> ToolMetrics::Start(const mdlink::metrics::ListenAddress& address, Own own,
                                                unsigned short libraryPort, std::string& error)
{
    std::unique_ptr<ToolMetrics> m(new ToolMetrics(std::move(own), libraryPort));
    ToolMetrics* self = m.get();
    m->listener_ = mdlink::metrics::Listener::Start(
        address, [self] { return self->Page(); }, error);
    if (!m->listener_)
        return nullptr;
    return m;
}

std::string ToolMetrics::Where() const
{
    return listener_->Host() + ":" + std::to_string(listener_->Port());
}

std::string ToolMetrics::Page() const
{
    ExpositionWriter out;
    std::string library;
    if (libraryPort_ != 0) {
        const bool up = FetchPage(libraryPort_, LibraryPageWait, library);
        if (!up)
            library.clear();
        out.Family("mdlink_tool_library_page_up", "gauge",
                   "1 when the library's own page could be fetched for this scrape.");
        out.Sample("mdlink_tool_library_page_up", {}, static_cast<std::uint64_t>(up ? 1 : 0));
    }
    own_(out);
    return MergePages(library, out.Text());
}

} // namespace mdtools
