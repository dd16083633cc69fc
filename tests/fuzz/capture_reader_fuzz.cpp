// Arbitrary bytes as a capture file through the capture reader: opened,
// then every block read to where the reader stops. Whatever the bytes, the
// reader must not crash nor allocate beyond its bounds, and what it hands
// out must agree with itself: block offsets rising, each block's records as
// many as its header says, of the layout's size, first and last times
// those of the header. The input is a file in memory (memfd), opened by
// its /proc path as any file is.
#include "CaptureReader.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void Check(bool holds)
{
    if (!holds)
        std::abort();
}

int File()
{
    static const int fd = memfd_create("capture", 0);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = File();
    Check(fd >= 0 && ftruncate(fd, 0) == 0);
    Check(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    std::string error;
    auto reader = mdcapture::Reader::Open("/proc/self/fd/" + std::to_string(fd), error);
    if (!reader) {
        Check(error.find(": at offset ") != std::string::npos);
        return 0;
    }
    const std::uint32_t recordSize = reader->Header().layouts.at(0).size;
    mdcapture::BlockInfo info{};
    std::vector<mdcapture::RecordView> records;
    std::uint64_t previous = 0;
    while (reader->NextBlock(info)) {
        Check(info.offset > previous &&
              info.offset + mdcapture::BlockHeaderSize + info.compressedBytes <= size);
        previous = info.offset;
        if (!reader->ReadBlock(records)) {
            Check(records.empty() && reader->Stopped().offset == info.offset);
            break;
        }
        Check(records.size() == info.records);
        Check(records.front().receiveNs == info.firstNs && records.back().receiveNs == info.lastNs);
        for (const auto& r : records)
            Check(r.size == recordSize && r.kind == mdcapture::RecordKind::Depth);
    }
    Check(reader->Stopped().clean || !reader->Stopped().why.empty());
    return 0;
}
