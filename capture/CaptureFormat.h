// The capture file's layout, in one place: the file header (a fixed prefix,
// a text table and a checksum), the block header that precedes each
// Zstandard frame, and the record header inside a frame. The writer, the
// reader and the tools build and take apart bytes only through these.
// docs/capture-format.md describes the same bytes for readers in other
// languages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mdcapture {

// The kinds of record a capture holds; the number is stored in the file.
enum class RecordKind : std::uint16_t { Depth = 1 }; // CThostFtdcDepthMarketDataField of include/MdApi.h

// One member of a record: "text" (zero-terminated characters in a fixed
// width), "f64" or "i32" (little-endian).
struct MemberLayout {
    std::string name, type;
    std::uint32_t offset, length;
};

struct RecordLayout {
    RecordKind kind;
    std::string name;
    std::uint32_t size;
    std::vector<MemberLayout> members;
};

bool operator==(const MemberLayout& a, const MemberLayout& b);
bool operator==(const RecordLayout& a, const RecordLayout& b);

struct FileHeader {
    std::uint16_t version;             // format version
    std::string writer;                // name and version of the program, "mdcli 1.4.0"
    std::string tradingDay;            // YYYYMMDD of the records, "" when unknown
    std::vector<std::string> fronts;   // where the records came from
    std::vector<RecordLayout> layouts; // one per record kind in the file
};

RecordLayout DepthLayout(); // this build's layout of the depth record

// The one format version this build writes and reads.
inline constexpr std::uint16_t FormatVersion = 1;

// File header: magic, version, reserved, text length, text, CRC-32C of all before it.
inline constexpr char FileMagic[8] = {'M', 'D', 'C', 'A', 'P', '\r', '\n', '\x1a'};
inline constexpr std::size_t FilePrefixSize = 16;
// A header table larger than this is a corrupt length, not a header.
inline constexpr std::uint32_t MaxHeaderText = 1u << 20;

// Block header: 40 bytes before each frame.
inline constexpr char BlockMagic[4] = {'M', 'D', 'C', 'B'};
inline constexpr std::size_t BlockHeaderSize = 40;
// Bounds a reader holds a block to before allocating for it.
inline constexpr std::uint32_t MaxBlockRawBytes = 64u << 20;

// Record header inside a frame: receive time, kind, reserved, size; the
// record's bytes follow, then zeros to a multiple of 8.
inline constexpr std::size_t RecordHeaderSize = 16;

struct BlockHeader {
    std::uint32_t records = 0;
    std::int64_t firstNs = 0, lastNs = 0;
    std::uint32_t compressedBytes = 0, rawBytes = 0;
    std::uint32_t crc = 0; // CRC-32C of the header's first 36 bytes and the payload
};

// The file header's bytes, checksum included.
std::vector<std::uint8_t> EncodeFileHeader(const FileHeader& header);

// How many bytes the whole file header takes, from its fixed prefix; 0 and
// error set when the prefix is not a capture's (wrong magic or version,
// oversized text). The prefix is FilePrefixSize bytes.
std::size_t FileHeaderSize(const std::uint8_t* prefix, std::string& error);

// Parses a whole file header of FileHeaderSize bytes; false and error set
// on a bad checksum or a malformed table.
bool DecodeFileHeader(const std::uint8_t* bytes, std::size_t size, FileHeader& header, std::string& error);

// Empty when every layout in the header is this build's own for its kind,
// else why the file cannot be read.
std::string CheckLayouts(const FileHeader& header);

// The block header's 40 bytes; crc is written as given.
void EncodeBlockHeader(const BlockHeader& header, std::uint8_t* out);
// false and error set on a wrong magic or sizes outside the bounds.
bool DecodeBlockHeader(const std::uint8_t* bytes, BlockHeader& header, std::string& error);
// The checksum a block header carries for its payload.
std::uint32_t BlockChecksum(const std::uint8_t* headerBytes, const std::uint8_t* payload, std::size_t size);

// Bytes a record of this size takes in a frame, its header and padding included.
inline constexpr std::size_t RecordSpan(std::size_t size)
{
    return RecordHeaderSize + ((size + 7) & ~std::size_t(7));
}

} // namespace mdcapture
