#include "CaptureFiles.h"

#include <cstring>

namespace mdcapture {
namespace {

std::string TradingDayOf(const void* record)
{
    const char* day = static_cast<const char*>(record) + offsetof(CThostFtdcDepthMarketDataField, TradingDay);
    return std::string(day, strnlen(day, sizeof(CThostFtdcDepthMarketDataField::TradingDay)));
}

} // namespace

CaptureFiles::CaptureFiles(const WriterOptions& options, FileCounters& counters, NameClock nameClock)
    : options_(options), counters_(counters), nameClock_(std::move(nameClock))
{}

CaptureFiles::~CaptureFiles()
{
    Close();
}

void CaptureFiles::Add(const void* record, std::int64_t receiveNs, std::int64_t nowNs)
{
    const std::string day = TradingDayOf(record);
    if (file_ && day != day_)
        CloseFile();
    if (!file_ && (nowNs < retryAt_ || !OpenFile(day))) {
        // A directory gone or full is not tried again for every record:
        // once per flush interval, the records between dropped and counted.
        if (nowNs >= retryAt_)
            retryAt_ =
                nowNs + std::chrono::duration_cast<std::chrono::nanoseconds>(options_.flushEvery).count();
        counters_.dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (file_->Pending() == 0)
        blockStart_ = nowNs;
    const std::uint32_t inBlock = file_->Pending() + 1;
    if (!file_->Append(receiveNs, RecordKind::Depth, record, sizeof(CThostFtdcDepthMarketDataField))) {
        Failed(inBlock);
        return;
    }
    CountWritten();
    if (file_->Pending() == 0 && file_->Bytes() >= options_.rotateBytes)
        CloseFile();
}

void CaptureFiles::Tick(std::int64_t nowNs)
{
    if (!file_ || file_->Pending() == 0)
        return;
    const auto every = std::chrono::duration_cast<std::chrono::nanoseconds>(options_.flushEvery).count();
    if (nowNs - blockStart_ < every)
        return;
    const std::uint32_t inBlock = file_->Pending();
    if (!file_->Flush()) {
        Failed(inBlock);
        return;
    }
    CountWritten();
    if (file_->Bytes() >= options_.rotateBytes)
        CloseFile();
}

void CaptureFiles::Close()
{
    if (file_)
        CloseFile();
}

bool CaptureFiles::OpenFile(const std::string& tradingDay)
{
    FileHeader header{FormatVersion, options_.writer, tradingDay, options_.fronts, {DepthLayout()}};
    const std::string path = options_.directory + "/" + FileNameAt(nameClock_(), ++sequence_);
    std::string error;
    file_ = FileWriter::Create(path, header, options_.level, error);
    if (!file_) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = error;
        return false;
    }
    day_ = tradingDay;
    countedBytes_ = countedBlocks_ = 0;
    CountWritten();
    counters_.files.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(mutex_);
    files_.push_back(path);
    return true;
}

void CaptureFiles::CloseFile()
{
    const std::uint32_t inBlock = file_->Pending();
    if (!file_->Close())
        Failed(inBlock);
    else
        CountWritten();
    file_.reset();
}

// A failed write leaves a file that ends in a partial block: the records of
// that block are lost (counted as dropped) and the next record starts a new
// file, so nothing follows the damage.
void CaptureFiles::Failed(std::uint32_t lost)
{
    counters_.dropped.fetch_add(lost, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = file_->Error();
    }
    CountWritten();
    file_.reset();
}

void CaptureFiles::CountWritten()
{
    counters_.bytes.fetch_add(file_->Bytes() - countedBytes_, std::memory_order_relaxed);
    counters_.blocks.fetch_add(file_->Blocks() - countedBlocks_, std::memory_order_relaxed);
    countedBytes_ = file_->Bytes();
    countedBlocks_ = file_->Blocks();
}

std::string CaptureFiles::LastError() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::vector<std::string> CaptureFiles::Files() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return files_;
}

} // namespace mdcapture
