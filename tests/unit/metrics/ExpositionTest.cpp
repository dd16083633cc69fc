// The exposition format as Prometheus reads it, line by line.
#include "metrics/Exposition.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using mdlink::metrics::ExpositionWriter;
using mdlink::metrics::Labels;

namespace {

struct Case {
    const char* what;
    std::function<void(ExpositionWriter&)> write;
    const char* text;
};

const Case Cases[] = {
    {"a counter's family and a sample without labels",
     [](ExpositionWriter& w) {
         w.Family("mdlink_x_total", "counter", "Things.");
         w.Sample("mdlink_x_total", {}, std::uint64_t{18446744073709551615u});
     },
     "# HELP mdlink_x_total Things.\n# TYPE mdlink_x_total counter\nmdlink_x_total 18446744073709551615\n"},
    {"labels in their order, comma-separated",
     [](ExpositionWriter& w) {
         w.Sample("g", {{"client", "1"}, {"front", "tcp://h:1"}}, std::uint64_t{0});
     },
     "g{client=\"1\",front=\"tcp://h:1\"} 0\n"},
    {"backslash, double quote and line feed escaped in a value",
     [](ExpositionWriter& w) {
         w.Sample("g", {{"front", "a\\b\"c\nd"}}, std::uint64_t{1});
     },
     "g{front=\"a\\\\b\\\"c\\nd\"} 1\n"},
    {"other characters as they are",
     [](ExpositionWriter& w) {
         w.Sample("g", {{"front", "tcp://[::1]:9 {x}=y,'z'\t"}}, std::uint64_t{1});
     },
     "g{front=\"tcp://[::1]:9 {x}=y,'z'\t\"} 1\n"},
    {"a gauge's fraction, shortest form",
     [](ExpositionWriter& w) {
         w.Family("age_seconds", "gauge", "Age.");
         w.Sample("age_seconds", {{"client", "2"}}, 2.5);
         w.Sample("age_seconds", {{"client", "3"}}, 0.1);
         w.Sample("age_seconds", {{"client", "4"}}, 3.0);
     },
     "# HELP age_seconds Age.\n# TYPE age_seconds gauge\nage_seconds{client=\"2\"} 2.5\n"
     "age_seconds{client=\"3\"} 0.1\nage_seconds{client=\"4\"} 3\n"},
    {"infinities and NaN as the format spells them",
     [](ExpositionWriter& w) {
         w.Sample("g", {}, std::numeric_limits<double>::infinity());
         w.Sample("g", {}, -std::numeric_limits<double>::infinity());
         w.Sample("g", {}, std::numeric_limits<double>::quiet_NaN());
     },
     "g +Inf\ng -Inf\ng NaN\n"},
    {"a histogram: buckets cumulative, +Inf last, then sum and count",
     [](ExpositionWriter& w) {
         w.Family("lat_seconds", "histogram", "Lateness.");
         w.Histogram("lat_seconds", {{"link", "0"}}, {1e-05, 0.001, 0.1}, {2, 0, 3, 4}, 0.75);
     },
     "# HELP lat_seconds Lateness.\n# TYPE lat_seconds histogram\n"
     "lat_seconds_bucket{link=\"0\",le=\"1e-05\"} 2\nlat_seconds_bucket{link=\"0\",le=\"0.001\"} 2\n"
     "lat_seconds_bucket{link=\"0\",le=\"0.1\"} 5\nlat_seconds_bucket{link=\"0\",le=\"+Inf\"} 9\n"
     "lat_seconds_sum{link=\"0\"} 0.75\nlat_seconds_count{link=\"0\"} 9\n"},
    {"a histogram without labels, nothing counted",
     [](ExpositionWriter& w) { w.Histogram("h", {}, {0.5}, {}, 0); },
     "h_bucket{le=\"0.5\"} 0\nh_bucket{le=\"+Inf\"} 0\nh_sum 0\nh_count 0\n"},
};

TEST(Exposition, WritesEachCaseExactly)
{
    for (const Case& c : Cases) {
        ExpositionWriter w;
        c.write(w);
        EXPECT_EQ(w.Text(), c.text) << c.what;
    }
}

} // namespace
