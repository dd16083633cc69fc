#include "Merge.h"

#include "CaptureFile.h"
#include "CaptureReader.h"
#include "Commands.h"

#include <algorithm>
#include <memory>
#include <queue>

namespace mdcap {

using namespace mdcapture;

MultisetUnion::MultisetUnion(std::size_t captures, std::int64_t windowNs)
    : captures_(captures), windowNs_(windowNs)
{}

bool MultisetUnion::Take(std::size_t capture, const mdrecord::RecordKey& key, std::int64_t ns)
{
    Forget(ns);
    Entry& e = entries_[key];
    if (e.seen.empty())
        e.seen.assign(captures_, 0);
    e.lastNs = ns;
    order_.emplace_back(ns, key);
    if (++e.seen[capture] <= e.written)
        return false;
    ++e.written;
    return true;
}

void MultisetUnion::Forget(std::int64_t ns)
{
    while (!order_.empty() && order_.front().first < ns - windowNs_) {
        const auto it = entries_.find(order_.front().second);
        if (it != entries_.end() && it->second.lastNs < ns - windowNs_)
            entries_.erase(it);
        order_.pop_front();
    }
}

namespace {

// One input capture: its reader and the block being read.
struct Source {
    std::string path;
    std::unique_ptr<Reader> reader;
    std::vector<RecordView> views;
    std::size_t next = 0;

    // The record to take next, reading blocks as needed; nullptr at the end.
    const RecordView* Current()
    {
        BlockInfo info{};
        while (next == views.size()) {
            next = 0;
            if (!reader->NextBlock(info) || !reader->ReadBlock(views)) {
                views.clear();
                return nullptr;
            }
        }
        return &views[next];
    }
};

FileHeader MergedHeader(const std::vector<Source>& sources)
{
    FileHeader header = sources[0].reader->Header();
    header.writer = WriterName;
    for (const auto& s : sources) {
        const FileHeader& h = s.reader->Header();
        if (h.tradingDay != header.tradingDay)
            header.tradingDay.clear();
        for (const auto& front : h.fronts)
            if (std::find(header.fronts.begin(), header.fronts.end(), front) == header.fronts.end())
                header.fronts.push_back(front);
    }
    return header;
}

} // namespace

int Merge(const CapOptions& options, std::ostream& out, std::ostream& err)
{
    std::vector<Source> sources;
    for (const auto& path : options.files) {
        std::string error;
        auto reader = Reader::Open(path, error);
        if (!reader) {
            err << error << '\n';
            return 1;
        }
        sources.push_back({path, std::move(reader), {}, 0});
    }
    std::string error;
    auto file = FileWriter::Create(options.output, MergedHeader(sources), 3, error);
    if (!file) {
        err << error << '\n';
        return 1;
    }
    // Earliest receive time first; among equal times, the earlier capture given.
    using Head = std::pair<std::int64_t, std::size_t>;
    std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads;
    for (std::size_t i = 0; i < sources.size(); ++i)
        if (const RecordView* v = sources[i].Current())
            heads.emplace(v->receiveNs, i);
    MultisetUnion merged(sources.size());
    std::uint64_t written = 0, matched = 0;
    bool ok = true;
    while (!heads.empty() && ok) {
        const std::size_t i = heads.top().second;
        heads.pop();
        const RecordView& v = *sources[i].Current();
        const auto key = mdrecord::KeyOf(static_cast<std::uint8_t>(v.kind), v.bytes, v.size);
        if (merged.Take(i, key, v.receiveNs)) {
            ok = file->Append(v.receiveNs, v.kind, v.bytes, v.size);
            ++written;
        } else {
            ++matched;
        }
        ++sources[i].next;
        if (const RecordView* n = sources[i].Current())
            heads.emplace(n->receiveNs, i);
    }
    int code = 0;
    for (const auto& s : sources)
        if (!s.reader->Stopped().clean) {
            err << s.reader->StopText() << '\n';
            code = 1;
        }
    if (!file->Close()) {
        err << file->Error() << '\n';
        return 1;
    }
    out << options.output << ": " << written << " records, " << matched << " matched in another capture\n";
    return code;
}

} // namespace mdcap
