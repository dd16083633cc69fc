#include "Commands.h"

#include "CaptureFile.h"
#include "CaptureReader.h"
#include "DepthCsv.h"
#include "LocalTime.h"
#include "MarketBoard.h"
#include "Ticker.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace mdcap {

using namespace mdcapture;

namespace {

std::unique_ptr<Reader> OpenOrSay(const std::string& path, std::ostream& err)
{
    std::string error;
    auto reader = Reader::Open(path, error);
    if (!reader)
        err << error << '\n';
    return reader;
}

// Reading went to the end: true; else the fault said and false.
bool Finished(const Reader& reader, std::ostream& err)
{
    if (reader.Stopped().clean)
        return true;
    err << reader.StopText() << '\n';
    return false;
}

CThostFtdcDepthMarketDataField Depth(const RecordView& view)
{
    CThostFtdcDepthMarketDataField d;
    std::memcpy(&d, view.bytes, sizeof d);
    return d;
}

std::string Instrument(const CThostFtdcDepthMarketDataField& d)
{
    return std::string(d.InstrumentID, strnlen(d.InstrumentID, sizeof d.InstrumentID));
}

// YYYY-MM-DDTHH:MM:SS.uuuuuu, local time.
std::string IsoTime(std::int64_t ns)
{
    const auto us = ns / 1000;
    const auto stamp =
        mdtools::ToLocalStamp(std::chrono::system_clock::time_point(std::chrono::microseconds(us)));
    return stamp.date.substr(0, 4) + "-" + stamp.date.substr(4, 2) + "-" + stamp.date.substr(6, 2) + "T" +
        mdtools::MicrosTimeOfDay(us);
}

// The [from, to) window of a command for a file, in ns.
struct Window {
    std::int64_t from = INT64_MIN, to = INT64_MAX;
};

bool WindowOf(const CapOptions& o, const FileHeader& header, Window& w, std::ostream& err)
{
    if ((o.from.given && !ResolveTime(o.from, header.tradingDay, w.from)) ||
        (o.to.given && !ResolveTime(o.to, header.tradingDay, w.to))) {
        err << "a time of day needs a trading day, and the file has none: give a full date and time\n";
        return false;
    }
    return true;
}

int InfoOf(const std::string& path, std::ostream& out, std::ostream& err)
{
    auto reader = OpenOrSay(path, err);
    if (!reader)
        return 1;
    const FileHeader& h = reader->Header();
    out << path << "\n  format " << h.version << ", written by " << h.writer << ", trading day "
        << (h.tradingDay.empty() ? "unknown" : h.tradingDay) << '\n';
    for (const auto& front : h.fronts)
        out << "  front " << front << '\n';
    for (const auto& layout : h.layouts)
        out << "  record kind " << static_cast<unsigned>(layout.kind) << " " << layout.name << ", "
            << layout.size << " bytes, " << layout.members.size() << " members\n";
    std::uint64_t blocks = 0, records = 0, compressed = 0, raw = 0;
    std::int64_t first = INT64_MAX, last = INT64_MIN;
    std::map<std::string, std::uint64_t> perInstrument;
    BlockInfo info{};
    std::vector<RecordView> views;
    while (reader->NextBlock(info) && reader->ReadBlock(views)) {
        ++blocks;
        compressed += info.compressedBytes;
        raw += info.rawBytes;
        for (const auto& v : views) {
            ++records;
            first = std::min(first, v.receiveNs);
            last = std::max(last, v.receiveNs);
            ++perInstrument[Instrument(Depth(v))];
        }
    }
    out << "  " << blocks << " blocks, " << records << " records, " << compressed << " bytes compressed from "
        << raw << '\n';
    if (records > 0)
        out << "  received " << IsoTime(first) << " to " << IsoTime(last) << '\n';
    for (const auto& [id, count] : perInstrument)
        out << "  " << id << " " << count << '\n';
    return Finished(*reader, err) ? 0 : 1;
}

int VerifyOf(const std::string& path, std::ostream& out, std::ostream& err)
{
    auto reader = OpenOrSay(path, err);
    if (!reader)
        return 1;
    std::uint64_t blocks = 0, records = 0;
    std::int64_t previous = INT64_MIN;
    BlockInfo info{};
    std::vector<RecordView> views;
    while (reader->NextBlock(info) && reader->ReadBlock(views)) {
        for (std::size_t i = 0; i < views.size(); ++i) {
            if (views[i].receiveNs < previous) {
                err << path << ": at offset " << info.offset << ": receive times go back at record " << i
                    << " of the block\n";
                return 1;
            }
            previous = views[i].receiveNs;
        }
        ++blocks;
        records += views.size();
    }
    if (!Finished(*reader, err))
        return 1;
    out << path << ": ok, " << blocks << " blocks, " << records << " records\n";
    return 0;
}

} // namespace

const char* const WriterName = "mdcap " MDCAP_VERSION;

int Info(const CapOptions& options, std::ostream& out, std::ostream& err)
{
    int code = 0;
    for (const auto& path : options.files)
        code |= InfoOf(path, out, err);
    return code;
}

int Verify(const CapOptions& options, std::ostream& out, std::ostream& err)
{
    int code = 0;
    for (const auto& path : options.files)
        code |= VerifyOf(path, out, err);
    return code;
}

int Cat(const CapOptions& options, std::ostream& out, std::ostream& err)
{
    if (options.csv)
        out << mdtools::DepthCsvHeader() << '\n';
    for (const auto& path : options.files) {
        auto reader = OpenOrSay(path, err);
        Window w;
        if (!reader || !WindowOf(options, reader->Header(), w, err))
            return 1;
        BlockInfo info{};
        std::vector<RecordView> views;
        while (reader->NextBlock(info)) {
            if (info.lastNs < w.from || info.firstNs >= w.to)
                continue; // skipped without decompressing
            if (!reader->ReadBlock(views))
                break;
            for (const auto& v : views) {
                const auto d = Depth(v);
                if (v.receiveNs < w.from || v.receiveNs >= w.to ||
                    (!options.instruments.empty() &&
                     std::find(options.instruments.begin(), options.instruments.end(), Instrument(d)) ==
                         options.instruments.end()))
                    continue;
                const long long us = v.receiveNs / 1000;
                if (options.csv)
                    out << mdtools::DepthCsvRow(us, d) << '\n';
                else
                    out << mdtools::Ticker::PlainLine(mdtools::TickerRow{d, us, 0}) << '\n';
            }
        }
        if (!Finished(*reader, err))
            return 1;
    }
    return 0;
}

int Cut(const CapOptions& options, std::ostream& out, std::ostream& err)
{
    auto reader = OpenOrSay(options.files[0], err);
    Window w;
    if (!reader || !WindowOf(options, reader->Header(), w, err))
        return 1;
    FileHeader header = reader->Header();
    header.writer = WriterName;
    std::string error;
    auto file = FileWriter::Create(options.output, header, 3, error);
    if (!file) {
        err << error << '\n';
        return 1;
    }
    std::uint64_t kept = 0;
    BlockInfo info{};
    std::vector<RecordView> views;
    while (reader->NextBlock(info)) {
        if (info.lastNs < w.from || info.firstNs >= w.to)
            continue;
        if (!reader->ReadBlock(views))
            break;
        for (const auto& v : views)
            if (v.receiveNs >= w.from && v.receiveNs < w.to) {
                ++kept;
                if (!file->Append(v.receiveNs, v.kind, v.bytes, v.size))
                    break;
            }
    }
    const bool read = Finished(*reader, err);
    if (!file->Close()) {
        err << file->Error() << '\n';
        return 1;
    }
    out << options.output << ": " << kept << " records\n";
    return read ? 0 : 1;
}

int Run(const CapOptions& options, std::ostream& out, std::ostream& err)
{
    if (options.command == "info")
        return Info(options, out, err);
    if (options.command == "cat")
        return Cat(options, out, err);
    if (options.command == "verify")
        return Verify(options, out, err);
    if (options.command == "cut")
        return Cut(options, out, err);
    return Merge(options, out, err);
}

} // namespace mdcap
