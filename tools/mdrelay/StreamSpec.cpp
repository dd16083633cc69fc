#include "StreamSpec.h"

#include "Quantities.h"

namespace mdrelay {

namespace {

std::string Join(const std::vector<std::string>& items)
{
    std::string out;
    for (const std::string& s : items)
        out += (out.empty() ? "" : ",") + s;
    return out.empty() ? "none" : out;
}

void Compare(std::vector<std::string>& out, const char* member, const std::string& options,
             const std::string& stream)
{
    if (options != stream)
        out.push_back(std::string(member) + ": the stream has " + stream + ", the options say " + options);
}

} // namespace

const char* StorageName(Storage s)
{
    return s == Storage::File ? "file" : "memory";
}

std::vector<std::string> StreamDifferences(const StreamSpec& options, const StreamSpec& stream)
{
    std::vector<std::string> out;
    Compare(out, "subjects", Join(options.subjects), Join(stream.subjects));
    Compare(out, "storage", StorageName(options.storage), StorageName(stream.storage));
    Compare(out, "max-age", DurationText(options.maxAgeNs), DurationText(stream.maxAgeNs));
    Compare(out, "max-bytes", SizeText(options.maxBytes), SizeText(stream.maxBytes));
    Compare(out, "replicas", std::to_string(options.replicas), std::to_string(stream.replicas));
    Compare(out, "duplicate-window", DurationText(options.duplicateWindowNs),
            DurationText(stream.duplicateWindowNs));
    return out;
}

} // namespace mdrelay
