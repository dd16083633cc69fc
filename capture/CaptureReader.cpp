#include "CaptureReader.h"

#include "Bytes.h"

#include <zstd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mdcapture {

std::unique_ptr<Reader> Reader::Open(const std::string& path, std::string& error)
{
    std::unique_ptr<Reader> reader(new Reader);
    reader->path_ = path;
    reader->stop_.path = path;
    reader->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader->fd_ < 0) {
        error = path + ": at offset 0: cannot open: " + std::strerror(errno);
        return nullptr;
    }
    auto fail = [&](std::uint64_t offset, const std::string& why) {
        error = path + ": at offset " + std::to_string(offset) + ": " + why;
        return nullptr;
    };
    std::uint8_t prefix[FilePrefixSize];
    std::size_t got = 0;
    if (!reader->ReadAt(0, prefix, sizeof prefix, got))
        return fail(0, reader->stop_.why);
    if (got < sizeof prefix)
        return fail(got,
                    "truncated header: " + std::to_string(got) + " of " + std::to_string(sizeof prefix) +
                        " bytes of its prefix");
    std::string why;
    const std::size_t size = FileHeaderSize(prefix, why);
    if (size == 0)
        return fail(0, why);
    std::vector<std::uint8_t> bytes(size);
    if (!reader->ReadAt(0, bytes.data(), size, got))
        return fail(0, reader->stop_.why);
    if (got < size)
        return fail(got,
                    "truncated header: " + std::to_string(got) + " of " + std::to_string(size) + " bytes");
    if (!DecodeFileHeader(bytes.data(), size, reader->header_, why))
        return fail(0, why);
    why = CheckLayouts(reader->header_);
    if (!why.empty())
        return fail(0, why);
    reader->next_ = size;
    reader->dctx_ = ZSTD_createDCtx();
    return reader;
}

const FileHeader& Reader::Header() const
{
    return header_;
}

const ReadStop& Reader::Stopped() const
{
    return stop_;
}

std::string Reader::StopText() const
{
    if (stop_.clean)
        return {};
    return stop_.path + ": at offset " + std::to_string(stop_.offset) + ": " + stop_.why;
}

bool Reader::Fault(std::uint64_t offset, const std::string& why)
{
    done_ = true;
    haveBlock_ = false;
    stop_.clean = false;
    stop_.offset = offset;
    stop_.why = why;
    return false;
}

bool Reader::ReadAt(std::uint64_t offset, void* out, std::size_t size, std::size_t& got)
{
    got = 0;
    auto p = static_cast<char*>(out);
    while (got < size) {
        const ssize_t n = ::pread(fd_, p + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            stop_.why = std::string("read failed: ") + std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool Reader::NextBlock(BlockInfo& info)
{
    if (done_)
        return false;
    if (haveBlock_)
        next_ = block_.offset + BlockHeaderSize + block_.compressedBytes;
    haveBlock_ = false;
    const std::uint64_t at = next_;
    std::size_t got = 0;
    if (!ReadAt(at, blockHeader_, BlockHeaderSize, got))
        return Fault(at, stop_.why);
    if (got == 0) {
        done_ = true;
        stop_.offset = at;
        stop_.why = "end of file";
        return false;
    }
    if (got < BlockHeaderSize)
        return Fault(at,
                     "truncated block: " + std::to_string(got) + " of " + std::to_string(BlockHeaderSize) +
                         " bytes of its header");
    BlockHeader header;
    std::string why;
    if (!DecodeBlockHeader(blockHeader_, header, why))
        return Fault(at, why);
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return Fault(at, std::string("cannot stat: ") + std::strerror(errno));
    const std::uint64_t end = at + BlockHeaderSize + header.compressedBytes;
    if (static_cast<std::uint64_t>(st.st_size) < end)
        return Fault(at,
                     "truncated block: " + std::to_string(st.st_size - static_cast<off_t>(at)) + " of " +
                         std::to_string(end - at) + " bytes");
    block_ = {at, header.firstNs, header.lastNs, header.records, header.compressedBytes, header.rawBytes};
    haveBlock_ = true;
    info = block_;
    return true;
}

bool Reader::ReadBlock(std::vector<RecordView>& records)
{
    records.clear();
    if (!haveBlock_)
        return done_ ? false : Fault(next_, "ReadBlock without a block from NextBlock");
    const std::uint64_t at = block_.offset;
    compressed_.resize(block_.compressedBytes);
    std::size_t got = 0;
    if (!ReadAt(at + BlockHeaderSize, compressed_.data(), compressed_.size(), got))
        return Fault(at, stop_.why);
    if (got < compressed_.size())
        return Fault(at,
                     "truncated block: " + std::to_string(BlockHeaderSize + got) + " of " +
                         std::to_string(BlockHeaderSize + compressed_.size()) + " bytes");
    if (BlockChecksum(blockHeader_, compressed_.data(), compressed_.size()) !=
        Load<std::uint32_t>(blockHeader_ + 36))
        return Fault(at, "block checksum mismatch");
    raw_.resize(block_.rawBytes);
    const std::size_t size = ZSTD_decompressDCtx(static_cast<ZSTD_DCtx*>(dctx_), raw_.data(), raw_.size(),
                                                 compressed_.data(), compressed_.size());
    if (ZSTD_isError(size))
        return Fault(at, std::string("block does not decompress: ") + ZSTD_getErrorName(size));
    if (size != raw_.size())
        return Fault(at,
                     "block decompresses to " + std::to_string(size) + " bytes, its header says " +
                         std::to_string(raw_.size()));
    if (!Walk(records)) {
        records.clear();
        return false;
    }
    return true;
}

bool Reader::Walk(std::vector<RecordView>& records)
{
    const std::uint64_t at = block_.offset;
    std::size_t pos = 0;
    while (pos < raw_.size()) {
        if (raw_.size() - pos < RecordHeaderSize)
            return Fault(at, "record " + std::to_string(records.size()) + " cut short");
        const std::uint8_t* p = &raw_[pos];
        RecordView view{Load<std::int64_t>(p), static_cast<RecordKind>(Load<std::uint16_t>(p + 8)),
                        p + RecordHeaderSize, Load<std::uint32_t>(p + 12)};
        const RecordLayout* layout = nullptr;
        for (const auto& l : header_.layouts)
            if (l.kind == view.kind)
                layout = &l;
        if (!layout || layout->size != view.size)
            return Fault(at,
                         "record " + std::to_string(records.size()) + " of kind " +
                             std::to_string(static_cast<unsigned>(view.kind)) + " and " +
                             std::to_string(view.size) + " bytes is not in the header's layouts");
        if (raw_.size() - pos < RecordSpan(view.size))
            return Fault(at, "record " + std::to_string(records.size()) + " cut short");
        records.push_back(view);
        pos += RecordSpan(view.size);
    }
    if (records.size() != block_.records)
        return Fault(at,
                     "block holds " + std::to_string(records.size()) + " records, its header says " +
                         std::to_string(block_.records));
    if (records.front().receiveNs != block_.firstNs || records.back().receiveNs != block_.lastNs)
        return Fault(at, "block's times differ from its records'");
    return true;
}

Reader::~Reader()
{
    if (fd_ >= 0)
        ::close(fd_);
    ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(dctx_));
}

} // namespace mdcapture
