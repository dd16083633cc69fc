#include "metrics/Page.h"

#include "metrics/Exposition.h"
#include "metrics/RedundantFigures.h"

#include <cstdio>

namespace mdlink {
namespace metrics {
namespace {

// One series' worth of labels and the cells behind it: a single client, or
// one link of a redundant client (then with its arbiter's figures).
struct Row {
    Labels labels;
    LinkFigures* link;
    const ArbiterFigures* arbiter;
    std::uint64_t records; // read once: whether it has an age depends on it
};

std::vector<Row> RowsOf(const std::vector<Listed>& clients)
{
    std::vector<Row> rows;
    for (const Listed& c : clients) {
        const std::string client = std::to_string(c.client);
        if (c.single) {
            rows.push_back(Row{{{"client", client}, {"front", c.single->Front()}},
                               c.single.get(),
                               nullptr,
                               c.single->Records()});
            continue;
        }
        const std::uint64_t made = c.redundant->made.Get();
        for (std::uint64_t k = 0; k < made && k < RedundantMaxLinks; ++k) {
            LinkFigures* link = c.redundant->links[k].get();
            rows.push_back(Row{{{"client", client}, {"front", link->Front()}, {"link", std::to_string(k)}},
                               link,
                               &c.redundant->arbiter[k],
                               link->Records()});
        }
    }
    return rows;
}

struct LinkFamily {
    const char* name;
    const char* type;
    const char* help;
    std::uint64_t (*value)(const LinkFigures&); // null: the row's record count
};

const LinkFamily LinkFamilies[] = {
    {"mdlink_connected", "gauge", "1 while the connection to the front is up.",
     [](const LinkFigures& f) { return f.connected.Get(); }},
    {"mdlink_logged_in", "gauge", "1 while logged in on the connection.",
     [](const LinkFigures& f) { return f.loggedIn.Get(); }},
    {"mdlink_reconnections_total", "counter", "Connections made after the first.",
     [](const LinkFigures& f) {
         const std::uint64_t n = f.connects.Get();
         return n > 0 ? n - 1 : 0;
     }},
    {"mdlink_heartbeat_timeouts_total", "counter", "Connections dropped for unanswered heartbeats.",
     [](const LinkFigures& f) { return f.heartbeatTimeouts.Get(); }},
    {"mdlink_login_refusals_total", "counter", "Logins the front refused.",
     [](const LinkFigures& f) { return f.loginRefusals.Get(); }},
    {"mdlink_records_total", "counter", "Depth records received.", nullptr},
    {"mdlink_received_bytes_total", "counter", "Bytes received from the front.",
     [](const LinkFigures& f) { return f.receivedBytes.Get(); }},
};

struct ArbiterFamily {
    const char* name;
    const char* help;
    const Cell ArbiterFigures::*cell;
};

const ArbiterFamily ArbiterFamilies[] = {
    {"mdlink_redundant_first_total", "Depth records this link delivered first.", &ArbiterFigures::first},
    {"mdlink_redundant_copies_total", "Copies of delivered records this link brought later, dropped.",
     &ArbiterFigures::copies},
    {"mdlink_redundant_late_copies_total", "Of those copies, the ones 8 or more deliveries back.",
     &ArbiterFigures::lateCopies},
    {"mdlink_redundant_older_total", "Records older than the last delivered, dropped.",
     &ArbiterFigures::older},
    {"mdlink_redundant_held_total", "Records held while the link joined ahead of the others.",
     &ArbiterFigures::held},
};

void RenderStaleness(ExpositionWriter& out, const std::vector<Row>& rows, std::uint32_t nowMs)
{
    std::vector<InstrumentAges::Staleness> read;
    bool any = false;
    for (const Row& row : rows) {
        read.push_back(row.link->ages.Read(nowMs, StaleBoundMs()));
        any = any || read.back().subscribed > 0;
    }
    if (!any)
        return;
    char help[160];
    std::snprintf(help, sizeof help, "Subscribed instruments with no depth record for more than %g s.",
                  StaleBoundMs() / 1000.0);
    const struct {
        const char* name;
        const char* help;
        double (*value)(const InstrumentAges::Staleness&);
    } families[] = {
        {"mdlink_subscribed_instruments", "Instruments subscribed.",
         [](const InstrumentAges::Staleness& s) { return static_cast<double>(s.subscribed); }},
        {"mdlink_stale_instruments", help,
         [](const InstrumentAges::Staleness& s) { return static_cast<double>(s.stale); }},
        {"mdlink_stalest_instrument_age_seconds",
         "Time since the last depth record of the subscribed instrument that has gone longest without one "
         "(since its subscription when none came).",
         [](const InstrumentAges::Staleness& s) { return s.oldestMs / 1000.0; }},
    };
    for (const auto& family : families) {
        out.Family(family.name, "gauge", family.help);
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (read[i].subscribed > 0)
                out.Sample(family.name, rows[i].labels, family.value(read[i]));
    }
}

void RenderFeedLag(ExpositionWriter& out, const std::vector<Row>& rows)
{
    bool any = false;
    for (const Row& row : rows)
        any = any || row.link->lag.Exchanges() > 0;
    if (!any)
        return;
    out.Family("mdlink_feed_lag_seconds", "histogram",
               "How far the receive time of day is behind the record's UpdateTime and UpdateMillisec "
               "(one record timed per tick of the metrics thread, 20 a second at most).");
    const std::vector<double> bounds(std::begin(FeedLagBoundsSeconds), std::end(FeedLagBoundsSeconds));
    for (const Row& row : rows) {
        const FeedLag& lag = row.link->lag;
        for (int i = 0, n = lag.Exchanges(); i < n; ++i) {
            const FeedLag::Exchange& e = lag.At(i);
            Labels labels = row.labels;
            labels.emplace_back("exchange", e.name);
            std::vector<std::uint64_t> counts;
            for (const Cell& c : e.buckets)
                counts.push_back(c.Get());
            out.Histogram("mdlink_feed_lag_seconds", labels, bounds, counts,
                          static_cast<double>(e.sumMicros.Get()) / 1e6);
        }
    }
}

} // namespace

void SampleRecords(const std::vector<Listed>& clients, std::uint32_t nowMs)
{
    SetMarkClock(nowMs);
    for (const Row& row : RowsOf(clients)) {
        row.link->SeenChange(row.records, nowMs);
        row.link->lag.Want();
        row.link->ages.Rebuild(nowMs);
    }
}

std::string RenderPage(const std::vector<Listed>& clients, std::uint32_t nowMs, double loopStallSeconds)
{
    const std::vector<Row> rows = RowsOf(clients);
    ExpositionWriter out;
    if (loopStallSeconds >= 0) {
        out.Family("mdlink_loop_stall_seconds", "gauge",
                   "The loop thread's longest stall since the last scrape (a probe's wait to run).");
        out.Sample("mdlink_loop_stall_seconds", {}, loopStallSeconds);
    }
    for (const LinkFamily& family : LinkFamilies) {
        out.Family(family.name, family.type, family.help);
        for (const Row& row : rows)
            out.Sample(family.name, row.labels, family.value ? family.value(*row.link) : row.records);
    }
    // A family without a sample is left out altogether.
    bool anyRecord = false;
    bool anyArbiter = false;
    for (const Row& row : rows) {
        anyRecord = anyRecord || row.records > 0;
        anyArbiter = anyArbiter || row.arbiter;
    }
    if (anyRecord)
        out.Family("mdlink_last_record_age_seconds", "gauge", "Time since the last depth record.");
    for (const Row& row : rows) {
        if (row.records == 0)
            continue;
        // Ticks wrap after 49 days; the difference does not.
        const std::uint32_t ageMs = nowMs - row.link->SeenChange(row.records, nowMs);
        out.Sample("mdlink_last_record_age_seconds", row.labels, ageMs / 1000.0);
    }
    RenderStaleness(out, rows, nowMs);
    RenderFeedLag(out, rows);
    if (!anyArbiter)
        return out.Text();
    for (const ArbiterFamily& family : ArbiterFamilies) {
        out.Family(family.name, "counter", family.help);
        for (const Row& row : rows)
            if (row.arbiter)
                out.Sample(family.name, row.labels, (row.arbiter->*family.cell).Get());
    }
    out.Family("mdlink_redundant_lateness_seconds", "histogram",
               "How long after the first copy of a record this link brought its own (one record a "
               "millisecond timed).");
    std::vector<double> bounds;
    for (unsigned int us : RedundantLateBoundsUs)
        bounds.push_back(us / 1e6);
    for (const Row& row : rows) {
        if (!row.arbiter)
            continue;
        std::vector<std::uint64_t> counts;
        for (const Cell& c : row.arbiter->late)
            counts.push_back(c.Get());
        out.Histogram("mdlink_redundant_lateness_seconds", row.labels, bounds, counts,
                      static_cast<double>(row.arbiter->lateSumNs.Get()) / 1e9);
    }
    return out.Text();
}

} // namespace metrics
} // namespace mdlink
