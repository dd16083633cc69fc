#include "metrics/Exposition.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mdlink {
namespace metrics {

std::string EscapeLabelValue(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string FormatNumber(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    // Shortest of %g that reads back the same, within the 17 digits a double has.
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value)
            break;
    }
    return text;
}

void ExpositionWriter::Family(const char* name, const char* type, const char* help)
{
    // Help texts are our own: no backslash or line feed to escape.
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    text_ += help;
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += ' ';
    text_ += type;
    text_ += '\n';
}

void ExpositionWriter::Head(const char* name, const Labels& labels, const char* suffix, const char* le)
{
    text_ += name;
    text_ += suffix;
    if (labels.empty() && !le) {
        text_ += ' ';
        return;
    }
    char sep = '{';
    for (const auto& label : labels) {
        text_ += sep;
        text_ += label.first;
        text_ += "=\"";
        text_ += EscapeLabelValue(label.second);
        text_ += '"';
        sep = ',';
    }
    if (le) {
        text_ += sep;
        text_ += "le=\"";
        text_ += le;
        text_ += '"';
    }
    text_ += "} ";
}

void ExpositionWriter::Sample(const char* name, const Labels& labels, std::uint64_t value)
{
    Head(name, labels, "", nullptr);
    text_ += std::to_string(value);
    text_ += '\n';
}

void ExpositionWriter::Sample(const char* name, const Labels& labels, double value)
{
    Head(name, labels, "", nullptr);
    text_ += FormatNumber(value);
    text_ += '\n';
}

void ExpositionWriter::Histogram(const char* name, const Labels& labels, const std::vector<double>& bounds,
                                 const std::vector<std::uint64_t>& counts, double sum)
{
    std::uint64_t total = 0;
    for (std::size_t i = 0; i <= bounds.size(); ++i) {
        total += i < counts.size() ? counts[i] : 0;
        const std::string le = i < bounds.size() ? FormatNumber(bounds[i]) : "+Inf";
        Head(name, labels, "_bucket", le.c_str());
        text_ += std::to_string(total);
        text_ += '\n';
    }
    Head(name, labels, "_sum", nullptr);
    text_ += FormatNumber(sum);
    text_ += '\n';
    Head(name, labels, "_count", nullptr);
    text_ += std::to_string(total);
    text_ += '\n';
}

} // namespace metrics
} // namespace mdlink
