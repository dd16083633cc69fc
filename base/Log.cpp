// Kelvo_Log: one file per day, one line per Trace, each line written with a
// single append so that several objects on one file never interleave within
// a line. Mode 0 writes nothing at all (no directory, no file). The
// operating-system calls of the log live here, behind _WIN32.
//
// A log object inherited across fork() is silent in the child: a parent's
// thread may have held its mutex at the fork.
#include "ForkGeneration.h"
#include "KelvoBase.h"
#include "inline/LocalClock.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using FileHandle = HANDLE;
const FileHandle kNoFile = INVALID_HANDLE_VALUE;
#else
using FileHandle = int;
constexpr FileHandle kNoFile = -1;
#endif

constexpr std::size_t kPrefixLength = 24; // "YYYY-MM-DD HH:MM:SS.mmm "
constexpr std::size_t kStackLine = 2048;
constexpr std::int64_t kReopenPauseMs = 1000;

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
    int Date() const { return year * 10000 + month * 100 + day; }
};

#ifndef _WIN32
// Looked up once at load, so that a forked child stamps its first lines
// without the zone lock (see LocalClock.h).
kelvo::LocalClock g_clock;
[[maybe_unused]] const bool g_clockWarm = (g_clock.Split(std::time(nullptr)), true);
#endif

LocalTime Now()
{
    LocalTime t{};
#ifdef _WIN32
    SYSTEMTIME st;
    GetLocalTime(&st);
    t = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
#else
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const kelvo::LocalFields f = g_clock.Split(ts.tv_sec);
    t = {f.year, f.month, f.day, f.hour, f.minute, f.second, static_cast<int>(ts.tv_nsec / 1000000)};
#endif
    return t;
}

FileHandle OpenAppend(const std::string& path)
{
#ifdef _WIN32
    return CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
#endif
}

// One system call per line: the append is what keeps lines whole.
void WriteLine(FileHandle file, const char* data, std::size_t size)
{
#ifdef _WIN32
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
#else
    ssize_t rc;
    do {
        rc = ::write(file, data, size);
    } while (rc < 0 && errno == EINTR);
#endif
}

void CloseFile(FileHandle file)
{
#ifdef _WIN32
    CloseHandle(file);
#else
    ::close(file);
#endif
}

std::int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DayNumber(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// "<name>_YYYYMMDD.log" -> YYYYMMDD, or 0 for any other file name.
int DateOfFile(const std::string& file, const std::string& name)
{
    const std::size_t expected = name.size() + 1 + 8 + 4;
    if (file.size() != expected || file.compare(0, name.size(), name) != 0 || file[name.size()] != '_' ||
        file.compare(expected - 4, 4, ".log") != 0)
        return 0;
    int date = 0;
    for (std::size_t i = name.size() + 1; i < expected - 4; ++i) {
        if (file[i] < '0' || file[i] > '9')
            return 0;
        date = date * 10 + (file[i] - '0');
    }
    return date;
}

// Deletes this name's files dated keepDays or more days before today.
void PurgeOld(const std::string& dir, const std::string& name, int keepDays, const LocalTime& today)
{
    namespace fs = std::filesystem;
    const std::int64_t oldestKept = DayNumber(today.year, today.month, today.day) - keepDays + 1;
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const int date = DateOfFile(it->path().filename().string(), name);
        if (date != 0 && DayNumber(date / 10000, date / 100 % 100, date % 100) < oldestKept) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

bool MakeDirs(const std::string& dir)
{
    if (dir.empty())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return !ec && std::filesystem::is_directory(dir, ec);
}

} // namespace

struct Kelvo_LogState {
    const unsigned generation = kelvo::ForkGeneration();
    std::mutex mutex;
    bool enabled = false;
    std::string dir;
    std::string name;
    int keepDays = 0;
    FileHandle file = kNoFile;
    int fileDate = 0;
    std::int64_t nextOpenMs = 0; // no open is tried before this

    void CloseCurrent()
    {
        if (file != kNoFile)
            CloseFile(file);
        file = kNoFile;
        fileDate = 0;
        nextOpenMs = 0;
    }

    bool OpenFor(const LocalTime& t);
    void Write(const LocalTime& t, const char* line, std::size_t size);
};

bool Kelvo_LogState::OpenFor(const LocalTime& t)
{
    // An unwritable directory or full disk costs one attempt a second.
    const std::int64_t now = SteadyMs();
    if (now < nextOpenMs)
        return false;
    char leaf[32];
    std::snprintf(leaf, sizeof leaf, "_%08d.log", t.Date());
    const std::string path = (dir.empty() ? std::string() : dir + "/") + name + leaf;
    file = OpenAppend(path);
    if (file == kNoFile && MakeDirs(dir))
        file = OpenAppend(path);
    if (file == kNoFile) {
        nextOpenMs = now + kReopenPauseMs;
        return false;
    }
    fileDate = t.Date();
    if (keepDays > 0)
        PurgeOld(dir, name, keepDays, t);
    return true;
}

void Kelvo_LogState::Write(const LocalTime& t, const char* line, std::size_t size)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (name.empty())
        return;
    if (file != kNoFile && fileDate != t.Date())
        CloseCurrent();
    if (file == kNoFile && !OpenFor(t))
        return;
    WriteLine(file, line, size);
}

Kelvo_Log::Kelvo_Log(int mode) : m_state(new Kelvo_LogState)
{
    m_state->enabled = mode != 0;
}

Kelvo_Log::~Kelvo_Log()
{
    if (kelvo::Inherited(m_state->generation)) {
        kelvo::LeakOnPurpose(m_state);
        return;
    }
    m_state->CloseCurrent();
    delete m_state;
}

int Kelvo_Log::SetMainDir(const char* dir)
{
    if (dir == nullptr || kelvo::Inherited(m_state->generation))
        return -1;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->CloseCurrent();
    m_state->dir = dir;
    while (m_state->dir.size() > 1 && (m_state->dir.back() == '/' || m_state->dir.back() == '\\'))
        m_state->dir.pop_back();
    if (!m_state->enabled)
        return 0;
    return MakeDirs(m_state->dir) ? 0 : -1;
}

int Kelvo_Log::Init(const char* name, int keepDays)
{
    if (name == nullptr || *name == '\0' || kelvo::Inherited(m_state->generation))
        return -1;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->CloseCurrent();
    m_state->name = name;
    m_state->keepDays = keepDays > 0 ? keepDays : 0;
    return 0;
}

void Kelvo_Log::Trace(int, const char* format, ...)
{
    if (!m_state->enabled || format == nullptr || kelvo::Inherited(m_state->generation))
        return;
    const LocalTime t = Now();
    char stackLine[kStackLine];
    std::snprintf(stackLine, sizeof stackLine, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);

    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(stackLine + kPrefixLength, kStackLine - kPrefixLength, format, args);
    va_end(args);
    if (n < 0)
        return;
    const std::size_t textLength = static_cast<std::size_t>(n);
    char* line = stackLine;
    std::unique_ptr<char[]> longLine;
    // Room for the text, its terminator and then the '\n' that replaces it.
    if (kPrefixLength + textLength + 1 >= kStackLine) {
        longLine.reset(new char[kPrefixLength + textLength + 2]);
        std::memcpy(longLine.get(), stackLine, kPrefixLength);
        va_start(args, format);
        std::vsnprintf(longLine.get() + kPrefixLength, textLength + 1, format, args);
        va_end(args);
        line = longLine.get();
    }
    line[kPrefixLength + textLength] = '\n';
    m_state->Write(t, line, kPrefixLength + textLength + 1);
}
