#include "CaptureFlags.h"

#include "CommandLine.h"
#include "NumberText.h"

namespace mdtools {

namespace {

bool Within(const std::string& v, long long low, long long high, long long& out)
{
    return ParseInt(v, out) && out >= low && out <= high;
}

} // namespace

void AddCaptureFlags(CLI::App& app, CaptureSettings& s, const std::string& what)
{
    AddValueFlag(app, "capture", "DIR",
                 "write " + what +
                     " to capture files in DIR (made if missing; mdfront --replay FILE "
                     "replays one)",
                 [&s](const std::string& v) {
                     s.directory = v;
                     return !v.empty();
                 });
    AddValueFlag(app, "capture-flush", "MS",
                 "a capture block goes to disk at least this often while records come "
                 "(1 to 3600000, default 1000)",
                 [&s](const std::string& v) {
                     long long ms;
                     if (!Within(v, 1, 3'600'000, ms))
                         return false;
                     s.flushMs = ms;
                     return true;
                 });
    AddValueFlag(app, "capture-queue", "N",
                 "records waiting for the capture writer, at most; when full a record is "
                 "dropped and counted (2 to 16777216, default 65536)",
                 [&s](const std::string& v) {
                     long long n;
                     // A ring of one slot cannot tell full from free.
                     if (!Within(v, 2, 1 << 24, n))
                         return false;
                     s.queueRecords = static_cast<std::size_t>(n);
                     return true;
                 });
}

} // namespace mdtools
