// Prometheus's text exposition format, version 0.0.4: a family's HELP and
// TYPE lines, then its samples, every family's lines together.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace mdlink {
namespace metrics {

using Labels = std::vector<std::pair<const char*, std::string>>;

class ExpositionWriter {
public:
    void Family(const char* name, const char* type, const char* help);
    void Sample(const char* name, const Labels& labels, std::uint64_t value);
    void Sample(const char* name, const Labels& labels, double value);
    // A histogram's series: bounds ascending, counts[i] those at most
    // bounds[i] and above the bound before, counts[bounds.size()] those
    // above the last; written cumulative, +Inf included.
    void Histogram(const char* name, const Labels& labels, const std::vector<double>& bounds,
                   const std::vector<std::uint64_t>& counts, double sum);
    const std::string& Text() const { return text_; }

private:
    void Head(const char* name, const Labels& labels, const char* suffix, const char* le);
    std::string text_;
};

// A label value as the format quotes it: backslash, double quote and line
// feed escaped.
std::string EscapeLabelValue(const std::string& value);
// A number as the format reads it: integers without a fraction, +Inf, NaN.
std::string FormatNumber(double value);

} // namespace metrics
} // namespace mdlink
