#include "CaptureBook.h"

#include "CaptureBuilt.h"
#include "CaptureFormat.h"
#include "FrameBuilder.h"

#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>

#ifdef MDLINK_CAPTURE
#include "CaptureReader.h"
#endif

namespace mdfront {

#ifdef MDLINK_CAPTURE

namespace {

// A record of another size (a file of another build) is taken as far as
// both have it, the rest zero.
void CopyDepth(const mdcapture::RecordView& view, CThostFtdcDepthMarketDataField& depth)
{
    std::memset(&depth, 0, sizeof depth);
    std::memcpy(&depth, view.bytes, view.size < sizeof depth ? view.size : sizeof depth);
}

std::unique_ptr<mdcapture::Reader> OpenOrThrow(const std::string& path)
{
    std::string error;
    std::unique_ptr<mdcapture::Reader> reader = mdcapture::Reader::Open(path, error);
    if (!reader)
        throw std::runtime_error(error);
    return reader;
}

} // namespace

CaptureBook::CaptureBook(std::vector<std::string> files) : files_(std::move(files))
{
    std::set<std::string> seen;
    bool first = true;
    for (const std::string& path : files_) {
        std::unique_ptr<mdcapture::Reader> reader = OpenOrThrow(path);
        mdcapture::BlockInfo block;
        std::vector<mdcapture::RecordView> views;
        while (reader->NextBlock(block) && reader->ReadBlock(views)) {
            for (const mdcapture::RecordView& v : views) {
                if (v.kind != mdcapture::RecordKind::Depth)
                    continue;
                CThostFtdcDepthMarketDataField d;
                CopyDepth(v, d);
                const std::string id = MemberText(d.InstrumentID, sizeof d.InstrumentID);
                if (seen.insert(id).second)
                    instruments_.push_back({id, MemberText(d.ExchangeID, sizeof d.ExchangeID)});
                if (first)
                    firstNs_ = v.receiveNs;
                first = false;
                ++records_;
            }
        }
        if (!reader->Stopped().clean)
            notes_.push_back(reader->StopText());
    }
    if (records_ == 0)
        throw std::runtime_error(files_.empty() ? std::string("no capture file")
                                                : files_.front() + ": no depth record to replay");
}

struct CapturePlayer::Reading {
    explicit Reading(const CaptureBook& b) : book(b) {}

    const CaptureBook& book;
    std::size_t file = 0;
    std::unique_ptr<mdcapture::Reader> reader;
    std::vector<mdcapture::RecordView> views;
    std::size_t next = 0;
};

CapturePlayer::CapturePlayer(const CaptureBook& book) : reading_(std::make_unique<Reading>(book))
{}

CapturePlayer::~CapturePlayer() = default;

bool CapturePlayer::Next(std::int64_t& receiveNs, CThostFtdcDepthMarketDataField& depth)
{
    Reading& r = *reading_;
    for (;;) {
        for (; r.next < r.views.size(); ++r.next) {
            const mdcapture::RecordView& v = r.views[r.next];
            if (v.kind != mdcapture::RecordKind::Depth)
                continue;
            receiveNs = v.receiveNs;
            CopyDepth(v, depth);
            ++r.next;
            return true;
        }
        r.views.clear();
        r.next = 0;
        mdcapture::BlockInfo block;
        if (r.reader && r.reader->NextBlock(block) && r.reader->ReadBlock(r.views))
            continue;
        // This file is done (or unreadable from here on, as the book found): the next one.
        if (r.reader)
            ++r.file;
        r.reader.reset();
        if (r.file >= r.book.Files().size())
            return false;
        std::string error;
        r.reader = mdcapture::Reader::Open(r.book.Files()[r.file], error);
        if (!r.reader)
            ++r.file; // gone since the book read it: nothing of it to play
    }
}

#else

CaptureBook::CaptureBook(std::vector<std::string> files) : files_(std::move(files))
{
    throw std::runtime_error(mdcapture::NotBuiltText);
}

struct CapturePlayer::Reading {};

CapturePlayer::CapturePlayer(const CaptureBook&)
{}

CapturePlayer::~CapturePlayer() = default;

bool CapturePlayer::Next(std::int64_t&, CThostFtdcDepthMarketDataField&)
{
    return false;
}

#endif

// Also where capture files are not built: replaying one then says so,
// rather than taking it for a CSV file.
bool IsCaptureFile(const std::string& path)
{
    char magic[sizeof mdcapture::FileMagic] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(magic, sizeof magic) && std::memcmp(magic, mdcapture::FileMagic, sizeof magic) == 0;
}

} // namespace mdfront
