// Reading a capture file block by block: NextBlock reads a block's header
// without decompressing (to skip by time), ReadBlock decompresses and
// verifies the block and hands out views of its records. Every size read
// from the file is bounded before anything is allocated for it, and any
// fault stops reading with the file, the offset and the reason.
#pragma once

#include "CaptureFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mdcapture {

struct BlockInfo {
    std::uint64_t offset;         // of the block header in the file
    std::int64_t firstNs, lastNs; // receive times of its first and last record
    std::uint32_t records;
    std::uint32_t compressedBytes, rawBytes;
};

struct RecordView {
    std::int64_t receiveNs;
    RecordKind kind;
    const void* bytes;
    std::uint32_t size;
};

struct ReadStop {
    bool clean = true;
    std::string path;
    std::uint64_t offset = 0;
    std::string why;
}; // why and where reading stopped

class Reader {
public:
    // nullptr and error ("FILE: at offset N: why") on a missing file, wrong magic, unknown layout, truncated
    // header.
    static std::unique_ptr<Reader> Open(const std::string& path, std::string& error);
    const FileHeader& Header() const;
    // The next block's header, read without decompressing; false at the end of the file or at a fault
    // (Stopped() says which).
    bool NextBlock(BlockInfo& info);
    // Decompresses the block NextBlock last returned and verifies it; the views stay valid until the next
    // NextBlock. false on a fault (Stopped() says where and why; earlier blocks stay good).
    bool ReadBlock(std::vector<RecordView>& records);
    const ReadStop& Stopped() const;
    // "FILE: at offset N: why" of a fault, "" when reading stopped cleanly.
    std::string StopText() const;
    ~Reader();

private:
    Reader() = default;
    bool Fault(std::uint64_t offset, const std::string& why);
    bool ReadAt(std::uint64_t offset, void* out, std::size_t size, std::size_t& got);
    bool Walk(std::vector<RecordView>& records);

    std::string path_;
    int fd_ = -1;
    FileHeader header_;
    ReadStop stop_;
    std::uint64_t next_ = 0; // offset of the next block header
    bool haveBlock_ = false, done_ = false;
    BlockInfo block_{};
    std::uint8_t blockHeader_[BlockHeaderSize] = {};
    std::vector<std::uint8_t> compressed_, raw_;
    void* dctx_ = nullptr;
};

} // namespace mdcapture
