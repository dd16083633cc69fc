#include "Process.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace soak {

namespace {

int CountEntries(const char* dir)
{
    DIR* d = opendir(dir);
    if (!d)
        return -1;
    int n = 0;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n - (std::string(dir) == "/proc/self/fd" ? 1 : 0); // the one opendir holds
}

} // namespace

ProcessFigures ReadProcess()
{
    malloc_trim(0);
    ProcessFigures p;
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0, fileBacked = 0;
    statm >> size >> resident >> fileBacked;
    // Anonymous memory only: pages of the libraries' code that a rare path
    // touches for the first time are resident from then on, but no memory
    // the clients hold.
    p.residentBytes = (resident - fileBacked) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const struct mallinfo2 m = mallinfo2();
    p.heapInUseBytes = m.uordblks + m.hblkhd;
    p.descriptors = CountEntries("/proc/self/fd");
    p.threads = CountEntries("/proc/self/task");
    return p;
}

bool ParseThrowRecord(const std::string& line, std::string& callback, std::uint64_t& count)
{
    // <err>[   KVMDApi][    Callback] - OnRtnDepthMarketData threw: <what> (<N> since the last record)
    static const std::string Tag = "[    Callback] - ";
    static const std::string Threw = " threw: ";
    static const std::string Tail = " since the last record)";
    const std::size_t tag = line.find(Tag);
    if (tag == std::string::npos || line.find("<err>") == std::string::npos)
        return false;
    const std::size_t nameAt = tag + Tag.size();
    const std::size_t threw = line.find(Threw, nameAt);
    if (threw == std::string::npos)
        return false;
    std::string end = line;
    while (!end.empty() && (end.back() == '\n' || end.back() == '\r'))
        end.pop_back();
    if (end.size() < Tail.size() || end.compare(end.size() - Tail.size(), Tail.size(), Tail) != 0)
        return false;
    const std::size_t open = end.rfind('(');
    if (open == std::string::npos || open < threw)
        return false;
    const std::string digits = end.substr(open + 1, end.size() - Tail.size() - open - 1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    callback = line.substr(nameAt, threw - nameAt);
    count = std::strtoull(digits.c_str(), nullptr, 10);
    return true;
}

ThrowRecords ReadThrowRecords(const std::string& dir)
{
    ThrowRecords r;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return r;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(dir + "/" + e->d_name);
        std::string line, callback;
        std::uint64_t count = 0;
        while (std::getline(in, line)) {
            if (!ParseThrowRecord(line, callback, count))
                continue;
            r.byCallback[callback] += count;
            r.total += count;
            ++r.lines;
        }
    }
    closedir(d);
    return r;
}

} // namespace soak
