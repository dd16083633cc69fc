#include "CaptureWriter.h"

#include "CaptureFiles.h"
#include "RecordQueue.h"
#include "wire/DepthMembers.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace mdcapture {
namespace {

// The depth record as 64-bit words with the bytes no member covers cleared,
// from its member list: a copy ANDed with it has its padding zeroed, in
// word operations the compiler vectorises rather than a call per gap.
constexpr std::size_t DepthWords = (sizeof(CThostFtdcDepthMarketDataField) + 7) / 8;
static_assert(sizeof(CThostFtdcDepthMarketDataField) % 8 == 0, "whole words");

constexpr std::array<std::uint64_t, DepthWords> MakeMask()
{
    std::array<std::uint64_t, DepthWords> mask{};
    for (const auto& m : mdlink::DepthMembers)
        for (unsigned byte = m.offset; byte < m.offset + m.width; ++byte)
            mask[byte / 8] |= std::uint64_t(0xFF) << (8 * (byte % 8)); // little-endian words
    return mask;
}

constexpr auto Mask = MakeMask();

std::int64_t MonotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool MakeDirectories(const std::string& path, std::string& error)
{
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = part + ": cannot create the directory: " + std::strerror(errno);
            return false;
        }
    }
    if (::access(path.c_str(), W_OK | X_OK) != 0) {
        error = path + ": cannot write in the directory: " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

void CopyZeroingPadding(const CThostFtdcDepthMarketDataField& record, void* out) noexcept
{
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the mask's words are little-endian");
    auto in = reinterpret_cast<const unsigned char*>(&record);
    auto bytes = static_cast<unsigned char*>(out);
    for (std::size_t i = 0; i < DepthWords; ++i) {
        std::uint64_t word;
        std::memcpy(&word, in + 8 * i, 8);
        word &= Mask[i];
        std::memcpy(bytes + 8 * i, &word, 8);
    }
}

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string FileNameAt(std::int64_t epochNs, unsigned sequence)
{
    const std::time_t seconds = static_cast<std::time_t>(epochNs / 1000000000);
    const long micros = static_cast<long>(epochNs % 1000000000 / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d.%06ld-%04u.mdcap", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, micros, sequence);
    return name;
}

// The thread that owns the files: drains the queue, hands records to
// CaptureFiles and looks at the flush clock between batches. Add never
// wakes it (a wake-up would be a system call on the receiving thread): it
// looks at the queue a few times per flush interval.
class WriterThread {
public:
    explicit WriterThread(const WriterOptions& options)
        : queue_(options.queueRecords), files_(options, counters_, NowNs),
          poll_(
              std::clamp(options.flushEvery / 8, std::chrono::milliseconds(1), std::chrono::milliseconds(20)))
    {
        thread_ = std::thread([this] { Run(); });
    }

    ~WriterThread() { Close(); }

    bool Add(const CThostFtdcDepthMarketDataField& record, std::int64_t receiveNs) noexcept
    {
        if (!queue_.Push(record, receiveNs)) {
            counters_.dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        records_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }

    WriterStats Stats() const
    {
        return {records_.load(std::memory_order_relaxed), counters_.dropped.load(std::memory_order_relaxed),
                counters_.blocks.load(std::memory_order_relaxed),
                counters_.files.load(std::memory_order_relaxed),
                counters_.bytes.load(std::memory_order_relaxed)};
    }

    std::string LastError() const { return files_.LastError(); }
    std::vector<std::string> Files() const { return files_.Files(); }

    void Close()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                return;
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    void Run()
    {
        pthread_setname_np(pthread_self(), "mdcap-writer");
        for (;;) {
            Drain();
            files_.Tick(MonotonicNs());
            std::unique_lock<std::mutex> lock(mutex_);
            if (stopping_)
                break;
            wake_.wait_for(lock, poll_, [this] { return stopping_; });
        }
        Drain(); // what producers added before Close
        files_.Close();
    }

    void Drain()
    {
        while (const RecordQueue::Slot* slot = queue_.Front()) {
            files_.Add(slot->bytes, slot->receiveNs, MonotonicNs());
            queue_.Pop();
        }
    }

    RecordQueue queue_;
    FileCounters counters_;
    std::atomic<std::uint64_t> records_{0};
    CaptureFiles files_;
    std::chrono::milliseconds poll_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

std::unique_ptr<Writer> Writer::Open(const WriterOptions& options, std::string& error)
{
    if (options.directory.empty()) {
        error = "no directory for capture files";
        return nullptr;
    }
    if (!MakeDirectories(options.directory, error))
        return nullptr;
    return std::unique_ptr<Writer>(new Writer(std::make_unique<WriterThread>(options)));
}

Writer::Writer(std::unique_ptr<WriterThread> thread) : thread_(std::move(thread))
{}

bool Writer::Add(const CThostFtdcDepthMarketDataField& record, std::int64_t receiveNs) noexcept
{
    return thread_->Add(record, receiveNs);
}

WriterStats Writer::Stats() const
{
    return thread_->Stats();
}

std::string Writer::LastError() const
{
    return thread_->LastError();
}

std::vector<std::string> Writer::Files() const
{
    return thread_->Files();
}

void Writer::Close()
{
    thread_->Close();
}

Writer::~Writer()
{
    Close();
}

} // namespace mdcapture
