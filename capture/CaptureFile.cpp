#include "CaptureFile.h"

#include "Bytes.h"

#include <zstd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mdcapture {
namespace {

std::string SystemError(const std::string& what, const std::string& path)
{
    return path + ": " + what + ": " + std::strerror(errno);
}

} // namespace

std::unique_ptr<FileWriter> FileWriter::Create(const std::string& path, const FileHeader& header, int level,
                                               std::string& error)
{
    std::unique_ptr<FileWriter> file(new FileWriter);
    file->path_ = path;
    file->fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file->fd_ < 0) {
        error = SystemError("cannot create", path);
        return nullptr;
    }
    auto cctx = ZSTD_createCCtx();
    file->cctx_ = cctx;
    if (!cctx || ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 1))) {
        error = path + ": cannot set up compression at level " + std::to_string(level);
        return nullptr;
    }
    const auto bytes = EncodeFileHeader(header);
    if (!file->WriteAll(bytes.data(), bytes.size())) {
        error = file->error_;
        ::unlink(path.c_str()); // a header cut short is no capture
        return nullptr;
    }
    return file;
}

bool FileWriter::Append(std::int64_t receiveNs, RecordKind kind, const void* bytes, std::uint32_t size)
{
    const std::size_t at = raw_.size();
    raw_.resize(at + RecordSpan(size)); // padding after the bytes stays zero
    std::uint8_t* p = &raw_[at];
    Store<std::int64_t>(p, receiveNs);
    Store<std::uint16_t>(p + 8, static_cast<std::uint16_t>(kind));
    Store<std::uint16_t>(p + 10, 0);
    Store<std::uint32_t>(p + 12, size);
    std::memcpy(p + RecordHeaderSize, bytes, size);
    if (pending_++ == 0)
        firstNs_ = receiveNs;
    lastNs_ = receiveNs;
    return raw_.size() < blockBytes ? true : Flush();
}

bool FileWriter::Flush()
{
    if (pending_ == 0)
        return error_.empty();
    auto cctx = static_cast<ZSTD_CCtx*>(cctx_);
    out_.resize(BlockHeaderSize + ZSTD_compressBound(raw_.size()));
    const std::size_t size = ZSTD_compress2(cctx, out_.data() + BlockHeaderSize,
                                            out_.size() - BlockHeaderSize, raw_.data(), raw_.size());
    const std::uint32_t records = pending_;
    pending_ = 0;
    if (ZSTD_isError(size)) {
        error_ = path_ + ": compression failed: " + ZSTD_getErrorName(size);
        raw_.clear();
        return false;
    }
    BlockHeader header;
    header.records = records;
    header.firstNs = firstNs_;
    header.lastNs = lastNs_;
    header.compressedBytes = static_cast<std::uint32_t>(size);
    header.rawBytes = static_cast<std::uint32_t>(raw_.size());
    EncodeBlockHeader(header, out_.data());
    header.crc = BlockChecksum(out_.data(), out_.data() + BlockHeaderSize, size);
    EncodeBlockHeader(header, out_.data());
    raw_.clear();
    if (!WriteAll(out_.data(), BlockHeaderSize + size))
        return false;
    ++blocks_;
    return true;
}

bool FileWriter::WriteAll(const void* bytes, std::size_t size)
{
    // One write a block: a reader or a crash sees whole blocks but at the
    // very end; the loop only continues a write a signal cut short.
    auto p = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = SystemError("write failed", path_);
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        bytes_ += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool FileWriter::Close()
{
    if (fd_ < 0)
        return error_.empty();
    bool ok = Flush();
    if (::close(fd_) != 0 && ok) {
        error_ = SystemError("close failed", path_);
        ok = false;
    }
    fd_ = -1;
    return ok;
}

FileWriter::~FileWriter()
{
    Close();
    ZSTD_freeCCtx(static_cast<ZSTD_CCtx*>(cctx_));
}

} // namespace mdcapture
