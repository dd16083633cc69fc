#include "DepthCsv.h"

#include "NumberText.h"
#include "wire/DepthMembers.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <fstream>

namespace mdtools {

namespace {

using mdlink::MemberKind;
using Column = mdlink::RecordMember;
// The record's members in their order, from their one list.
const auto& Columns = mdlink::DepthMembers;

const char* const TimeColumn = "RecvTimeUs";

void AppendCell(std::string& out, const std::string& cell)
{
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        out += cell;
        return;
    }
    out += '"';
    for (char c : cell) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void AppendMember(std::string& out, const Column& col, const unsigned char* base)
{
    const unsigned char* p = base + col.offset;
    if (col.kind == MemberKind::Text) {
        const void* nul = std::memchr(p, 0, col.width);
        std::size_t len =
            nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - p) : col.width;
        AppendCell(out, std::string(reinterpret_cast<const char*>(p), len));
    } else if (col.kind == MemberKind::Double) {
        double v;
        std::memcpy(&v, p, sizeof v);
        AppendDouble(out, v);
    } else {
        int v;
        std::memcpy(&v, p, sizeof v);
        AppendInt(out, v);
    }
}

// Stores one cell; false with the reason when it does not fit its member.
bool StoreMember(const Column& col, const std::string& cell, unsigned char* base, std::string& problem)
{
    unsigned char* p = base + col.offset;
    if (col.kind == MemberKind::Text) {
        // The last byte of a text member stays the terminator.
        std::memset(p, 0, col.width);
        std::memcpy(p, cell.data(), cell.size() < col.width ? cell.size() : col.width - 1);
        return true;
    }
    if (cell.empty())
        return true;
    problem = "malformed number in " + std::string(col.name);
    if (col.kind == MemberKind::Double) {
        double v;
        if (!ParseDouble(cell, v))
            return false;
        std::memcpy(p, &v, sizeof v);
        return true;
    }
    long long v;
    if (!ParseInt(cell, v))
        return false;
    // A replayed record must say what the file says, not a wrapped number.
    if (v < INT_MIN || v > INT_MAX) {
        problem = std::string(col.name) + " " + cell + " out of range";
        return false;
    }
    const int i = static_cast<int>(v);
    std::memcpy(p, &i, sizeof i);
    return true;
}

// Column index for each member, -1 where the file lacks it.
std::vector<int> MapColumns(const std::vector<std::string>& header, int& timeIndex)
{
    std::vector<int> map;
    timeIndex = -1;
    for (std::size_t h = 0; h < header.size(); ++h)
        if (header[h] == TimeColumn)
            timeIndex = static_cast<int>(h);
    for (const Column& col : Columns) {
        int found = -1;
        for (std::size_t h = 0; h < header.size(); ++h)
            if (header[h] == col.name)
                found = static_cast<int>(h);
        map.push_back(found);
    }
    return map;
}

bool ParseRow(const std::vector<std::string>& cells, const std::vector<int>& map, int timeIndex,
              CsvDepthRow& row, std::string& problem)
{
    problem = "malformed number in " + std::string(TimeColumn);
    row.recv_time_us = 0;
    // Padding too: replayed records go out byte for byte.
    std::memset(&row.depth, 0, sizeof row.depth);
    if (timeIndex >= 0 && static_cast<std::size_t>(timeIndex) < cells.size() &&
        !cells[static_cast<std::size_t>(timeIndex)].empty() &&
        !ParseInt(cells[static_cast<std::size_t>(timeIndex)], row.recv_time_us))
        return false;
    auto* base = reinterpret_cast<unsigned char*>(&row.depth);
    for (std::size_t c = 0; c < map.size(); ++c) {
        if (map[c] < 0 || static_cast<std::size_t>(map[c]) >= cells.size())
            continue;
        if (!StoreMember(Columns[c], cells[static_cast<std::size_t>(map[c])], base, problem))
            return false;
    }
    return true;
}

} // namespace

std::string DepthCsvHeader()
{
    std::string out = TimeColumn;
    for (const Column& col : Columns) {
        out += ',';
        out += col.name;
    }
    return out;
}

std::string DepthCsvRow(long long recv_time_us, const CThostFtdcDepthMarketDataField& depth)
{
    std::string out;
    out.reserve(512);
    AppendInt(out, recv_time_us);
    const auto* base = reinterpret_cast<const unsigned char*>(&depth);
    for (const Column& col : Columns) {
        out += ',';
        AppendMember(out, col, base);
    }
    return out;
}

std::vector<std::string> SplitCsvLine(const std::string& line)
{
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cells.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cells.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells.emplace_back();
        } else {
            cells.back() += c;
        }
    }
    return cells;
}

bool ReadDepthCsv(const std::string& path, std::vector<CsvDepthRow>& rows, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::string line;
    if (!std::getline(in, line)) {
        error = path + ": empty file";
        return false;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    int timeIndex = -1;
    const std::vector<int> map = MapColumns(SplitCsvLine(line), timeIndex);
    bool any = false;
    for (int m : map)
        any = any || m >= 0;
    if (!any) {
        error = path + ": no known column in the header row";
        return false;
    }
    for (long lineNo = 2; std::getline(in, line); ++lineNo) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        CsvDepthRow row;
        std::string problem;
        if (!ParseRow(SplitCsvLine(line), map, timeIndex, row, problem)) {
            error = path + ":" + std::to_string(lineNo) + ": " + problem;
            return false;
        }
        rows.push_back(row);
    }
    return true;
}

} // namespace mdtools
