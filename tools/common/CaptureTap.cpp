#include "CaptureTap.h"

#include <chrono>

#include "CaptureBuilt.h"

#ifdef MDLINK_CAPTURE
#include "CaptureWriter.h"
#endif

namespace mdtools {

namespace {

#ifdef MDLINK_CAPTURE

class WriterTap final : public CaptureTap {
public:
    explicit WriterTap(std::unique_ptr<mdcapture::Writer> writer) : writer_(std::move(writer)) {}

    void Add(const CThostFtdcDepthMarketDataField& depth, std::int64_t receiveNs) noexcept override
    {
        writer_->Add(depth, receiveNs);
    }

    CaptureCounts Counts() const override
    {
        const mdcapture::WriterStats s = writer_->Stats();
        CaptureCounts c;
        c.records = s.records;
        c.dropped = s.dropped;
        c.files = s.files;
        c.bytes = s.bytes;
        c.error = writer_->LastError();
        return c;
    }

    void Close() override { writer_->Close(); }

private:
    std::unique_ptr<mdcapture::Writer> writer_;
};

#endif

} // namespace

std::int64_t CaptureTap::Now()
{
#ifdef MDLINK_CAPTURE
    return mdcapture::NowNs();
#else
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
#endif
}

std::unique_ptr<CaptureTap> CaptureTap::Open(const CaptureSettings& settings, const std::string& writer,
                                             const std::vector<std::string>& fronts, std::string& error)
{
#ifdef MDLINK_CAPTURE
    mdcapture::WriterOptions o;
    o.directory = settings.directory;
    o.writer = writer;
    o.fronts = fronts;
    o.flushEvery = std::chrono::milliseconds(settings.flushMs);
    if (settings.queueRecords > 0)
        o.queueRecords = settings.queueRecords;
    std::unique_ptr<mdcapture::Writer> w = mdcapture::Writer::Open(o, error);
    if (!w)
        return nullptr;
    return std::make_unique<WriterTap>(std::move(w));
#else
    (void)settings;
    (void)writer;
    (void)fronts;
    error = mdcapture::NotBuiltText;
    return nullptr;
#endif
}

std::string CaptureSummary(const std::string& directory, const CaptureCounts& c)
{
    return "captured " + std::to_string(c.records) + " records into " + directory + " (" +
        std::to_string(c.files) + (c.files == 1 ? " file, " : " files, ") + std::to_string(c.bytes) +
        " bytes), " + std::to_string(c.dropped) + " dropped" + (c.error.empty() ? "" : " (" + c.error + ")");
}

} // namespace mdtools
