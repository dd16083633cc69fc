// Scraping a tool's metrics page in the tests: where the tool said it
// serves, a series' value, and promtool's verdict on a page (promtool from
// the Debian package prometheus: without it the check skips, unless
// MDLINK_REQUIRE_PROMETHEUS=1, as in CI).
#pragma once

#include "Child.h"

#include <string>

namespace relaytest {

// The port of "TOOL metrics on http://HOST:PORT/metrics" in the child's
// output, once it is there; 0 when it never came.
unsigned short MetricsPort(Child& child, const std::string& tool);

// The page's body; "" when no whole 200 answer came.
std::string Scrape(unsigned short port);

// The value of the one series with exactly these labels; -1 when absent.
double SeriesValue(const std::string& page, const std::string& series);

// The path of a program of the prometheus package, or "" with why.
std::string PrometheusProgram(const char* name, std::string& why);
bool PrometheusRequired();

// "" when promtool accepts the page, else what it says; "" also without
// promtool, saying so, unless it is required.
std::string PromtoolVerdict(const std::string& page, const std::string& file);

} // namespace relaytest

// In a test body: skips (or fails, when required) without the program.
#define REQUIRE_PROMETHEUS_PROGRAM(name)                                                                     \
    do {                                                                                                     \
        std::string why_;                                                                                    \
        if (::relaytest::PrometheusProgram(name, why_).empty()) {                                            \
            if (::relaytest::PrometheusRequired())                                                           \
                FAIL() << why_;                                                                              \
            GTEST_SKIP() << why_;                                                                            \
        }                                                                                                    \
    } while (0)
