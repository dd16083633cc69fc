#include "CaptureFormat.h"

#include "Bytes.h"
#include "Crc32c.h"
#include "wire/DepthMembers.h"

#include <cstdlib>
#include <sstream>

namespace mdcapture {
namespace {

const char* TypeName(mdlink::MemberKind kind)
{
    switch (kind) {
    case mdlink::MemberKind::Text: return "text";
    case mdlink::MemberKind::Double: return "f64";
    case mdlink::MemberKind::Int: return "i32";
    }
    return "?";
}

// Header fields are tab-separated lines: a tab or line end inside a value
// would split it, so they become spaces.
std::string Field(std::string text)
{
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

// A decimal number of at most nine digits: nothing a header needs is larger.
bool Number(const std::string& text, std::uint32_t& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return true;
}

bool ParseLine(const std::vector<std::string>& f, FileHeader& header, std::string& error)
{
    const std::string& key = f[0];
    if (key == "writer" && f.size() == 2) {
        header.writer = f[1];
    } else if (key == "trading_day" && f.size() == 2) {
        header.tradingDay = f[1];
    } else if (key == "front" && f.size() == 2) {
        header.fronts.push_back(f[1]);
    } else if (key == "record" && f.size() == 4) {
        std::uint32_t kind = 0, size = 0;
        if (!Number(f[1], kind) || kind > 0xFFFF || !Number(f[3], size)) {
            error = "bad record line";
            return false;
        }
        header.layouts.push_back({static_cast<RecordKind>(kind), f[2], size, {}});
    } else if (key == "member" && f.size() == 5) {
        MemberLayout m{f[1], f[2], 0, 0};
        if (header.layouts.empty() || !Number(f[3], m.offset) || !Number(f[4], m.length)) {
            error = "bad member line";
            return false;
        }
        header.layouts.back().members.push_back(m);
    } else {
        error = "unknown header line \"" + key + "\"";
        return false;
    }
    return true;
}

} // namespace

bool operator==(const MemberLayout& a, const MemberLayout& b)
{
    return a.name == b.name && a.type == b.type && a.offset == b.offset && a.length == b.length;
}

bool operator==(const RecordLayout& a, const RecordLayout& b)
{
    return a.kind == b.kind && a.name == b.name && a.size == b.size && a.members == b.members;
}

RecordLayout DepthLayout()
{
    RecordLayout layout{RecordKind::Depth, "depth", sizeof(CThostFtdcDepthMarketDataField), {}};
    for (const auto& m : mdlink::DepthMembers)
        layout.members.push_back({m.name, TypeName(m.kind), m.offset, m.width});
    return layout;
}

std::vector<std::uint8_t> EncodeFileHeader(const FileHeader& header)
{
    std::ostringstream text;
    text << "writer\t" << Field(header.writer) << '\n';
    text << "trading_day\t" << Field(header.tradingDay) << '\n';
    for (const auto& front : header.fronts)
        text << "front\t" << Field(front) << '\n';
    for (const auto& layout : header.layouts) {
        text << "record\t" << static_cast<unsigned>(layout.kind) << '\t' << Field(layout.name) << '\t'
             << layout.size << '\n';
        for (const auto& m : layout.members)
            text << "member\t" << Field(m.name) << '\t' << Field(m.type) << '\t' << m.offset << '\t'
                 << m.length << '\n';
    }
    const std::string table = text.str();
    std::vector<std::uint8_t> out(FilePrefixSize + table.size() + 4);
    std::memcpy(out.data(), FileMagic, sizeof FileMagic);
    Store<std::uint16_t>(&out[8], header.version);
    Store<std::uint16_t>(&out[10], 0);
    Store<std::uint32_t>(&out[12], static_cast<std::uint32_t>(table.size()));
    std::memcpy(&out[FilePrefixSize], table.data(), table.size());
    const std::size_t end = FilePrefixSize + table.size();
    Store<std::uint32_t>(&out[end], Crc32c(0, out.data(), end));
    return out;
}

std::size_t FileHeaderSize(const std::uint8_t* prefix, std::string& error)
{
    if (std::memcmp(prefix, FileMagic, sizeof FileMagic) != 0) {
        error = "not a capture file (wrong magic)";
        return 0;
    }
    const auto version = Load<std::uint16_t>(prefix + 8);
    if (version != FormatVersion) {
        error = "format version " + std::to_string(version) + ", this build reads " +
            std::to_string(FormatVersion);
        return 0;
    }
    const auto length = Load<std::uint32_t>(prefix + 12);
    if (length > MaxHeaderText) {
        error = "header table of " + std::to_string(length) + " bytes, more than " +
            std::to_string(MaxHeaderText);
        return 0;
    }
    return FilePrefixSize + length + 4;
}

bool DecodeFileHeader(const std::uint8_t* bytes, std::size_t size, FileHeader& header, std::string& error)
{
    const std::size_t end = size - 4;
    if (Crc32c(0, bytes, end) != Load<std::uint32_t>(bytes + end)) {
        error = "header checksum mismatch";
        return false;
    }
    header = FileHeader{Load<std::uint16_t>(bytes + 8), {}, {}, {}, {}};
    const std::string table(reinterpret_cast<const char*>(bytes + FilePrefixSize), end - FilePrefixSize);
    if (!table.empty() && table.back() != '\n') {
        error = "header table does not end a line";
        return false;
    }
    std::size_t start = 0;
    while (start < table.size()) {
        const std::size_t eol = table.find('\n', start);
        if (!ParseLine(Split(table.substr(start, eol - start)), header, error))
            return false;
        start = eol + 1;
    }
    return true;
}

std::string CheckLayouts(const FileHeader& header)
{
    const RecordLayout depth = DepthLayout();
    if (header.layouts.empty())
        return "no record layout in the header";
    for (const auto& layout : header.layouts) {
        if (layout.kind != RecordKind::Depth)
            return "unknown record kind " + std::to_string(static_cast<unsigned>(layout.kind));
        if (!(layout == depth))
            return "the depth record's layout differs from this build's";
    }
    return {};
}

void EncodeBlockHeader(const BlockHeader& header, std::uint8_t* out)
{
    std::memcpy(out, BlockMagic, sizeof BlockMagic);
    Store<std::uint32_t>(out + 4, header.records);
    Store<std::int64_t>(out + 8, header.firstNs);
    Store<std::int64_t>(out + 16, header.lastNs);
    Store<std::uint32_t>(out + 24, header.compressedBytes);
    Store<std::uint32_t>(out + 28, header.rawBytes);
    Store<std::uint32_t>(out + 32, 0);
    Store<std::uint32_t>(out + 36, header.crc);
}

bool DecodeBlockHeader(const std::uint8_t* bytes, BlockHeader& header, std::string& error)
{
    if (std::memcmp(bytes, BlockMagic, sizeof BlockMagic) != 0) {
        error = "not a block header (wrong magic)";
        return false;
    }
    header.records = Load<std::uint32_t>(bytes + 4);
    header.firstNs = Load<std::int64_t>(bytes + 8);
    header.lastNs = Load<std::int64_t>(bytes + 16);
    header.compressedBytes = Load<std::uint32_t>(bytes + 24);
    header.rawBytes = Load<std::uint32_t>(bytes + 28);
    header.crc = Load<std::uint32_t>(bytes + 36);
    if (header.rawBytes > MaxBlockRawBytes) {
        error = "block of " + std::to_string(header.rawBytes) + " bytes, more than " +
            std::to_string(MaxBlockRawBytes);
        return false;
    }
    // A frame never needs more than its content plus a small overhead; a
    // larger size is a damaged header, not a block to allocate for.
    if (header.compressedBytes == 0 ||
        header.compressedBytes > header.rawBytes + header.rawBytes / 128 + 1024) {
        error = "block payload of " + std::to_string(header.compressedBytes) + " bytes for " +
            std::to_string(header.rawBytes) + " bytes of records";
        return false;
    }
    if (header.records == 0 || header.records > header.rawBytes / RecordHeaderSize) {
        error = std::to_string(header.records) + " records in " + std::to_string(header.rawBytes) + " bytes";
        return false;
    }
    return true;
}

std::uint32_t BlockChecksum(const std::uint8_t* headerBytes, const std::uint8_t* payload, std::size_t size)
{
    return Crc32c(Crc32c(0, headerBytes, BlockHeaderSize - 4), payload, size);
}

} // namespace mdcapture
