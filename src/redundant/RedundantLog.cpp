// The redundant client's own log records, in the same files as its links'
// ("./KVMDLog"), under the module name "KVMDLinks": link losses and, once a
// minute and at Release, every link's counters.
#include "RedundantClient.h"

#include "log/LogRecord.h"

#include <cstdio>

namespace mdlink {

void CRedundantMdClient::WriteLog(int level, const char* tag, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLogRecord(*logger_, level, "KVMDLinks", tag, format, args);
    va_end(args);
}

const char* CRedundantMdClient::StateName(State state)
{
    static const char* const names[] = {"connecting", "connected", "usable", "waiting"};
    return names[static_cast<int>(state)];
}

// One record per link; the lateness of its copies as counts per bucket.
void CRedundantMdClient::WriteCounters(const char* when)
{
    std::lock_guard<std::mutex> lock(mu_);
    WriteLog(LogInfo, "Counters", "%s: %d links, %d usable, %d instruments, hold %u ms", when,
             static_cast<int>(links_.size()), Count(State::Usable), static_cast<int>(arbiter_.Instruments()),
             DepthArbiter::HoldMs);
    for (std::size_t k = 0; k < links_.size(); ++k) {
        const Link& l = links_[k];
        const ArbiterCounters& a = arbiter_.CountersOf(static_cast<int>(k));
        char late[256] = {};
        int used = 0;
        for (int b = 0; b < RedundantLateBuckets; ++b) {
            const unsigned long long n = a.late[b];
            const std::size_t room = sizeof late - static_cast<std::size_t>(used);
            const int w = b < RedundantLateBuckets - 1
                ? std::snprintf(late + used, room, " <%uus:%llu", RedundantLateBoundsUs[b], n)
                : std::snprintf(late + used, room, " more:%llu", n);
            if (w < 0 || static_cast<std::size_t>(w) >= room)
                break;
            used += w;
        }
        WriteLog(LogInfo, "Counters",
                 "link %d [%s] %s: connects %llu, losses %llu, logins refused %llu, unanswered %llu; "
                 "depth records %llu, first %llu, copies %llu (late %llu), older %llu, held %llu; "
                 "notices first %llu, copies %llu; copies late (%llu timed, max %lluus):%s",
                 static_cast<int>(k), l.fronts.c_str(), StateName(l.state),
                 static_cast<unsigned long long>(l.connects), static_cast<unsigned long long>(l.losses),
                 static_cast<unsigned long long>(l.refused), static_cast<unsigned long long>(l.timeouts),
                 static_cast<unsigned long long>(a.records), static_cast<unsigned long long>(a.first),
                 static_cast<unsigned long long>(a.copies), static_cast<unsigned long long>(a.lateCopies),
                 static_cast<unsigned long long>(a.older), static_cast<unsigned long long>(a.held),
                 static_cast<unsigned long long>(l.noticesFirst),
                 static_cast<unsigned long long>(l.noticeCopies),
                 static_cast<unsigned long long>(a.lateTimed),
                 static_cast<unsigned long long>(a.lateMaxNs / 1000), late);
    }
}

// The arbiter's counters are the loop thread's; the metrics page reads
// these copies of them instead.
void CRedundantMdClient::PublishFigures()
{
    if (!figures_)
        return;
    for (int k = 0; k < static_cast<int>(links_.size()) && k < RedundantMaxLinks; ++k) {
        const ArbiterCounters& a = arbiter_.CountersOf(k);
        metrics::ArbiterFigures& f = figures_->arbiter[k];
        f.first.Set(a.first);
        f.copies.Set(a.copies);
        f.lateCopies.Set(a.lateCopies);
        f.older.Set(a.older);
        f.held.Set(a.held);
        f.lateTimed.Set(a.lateTimed);
        f.lateSumNs.Set(a.lateSumNs);
        for (int b = 0; b < RedundantLateBuckets; ++b)
            f.late[b].Set(a.late[b]);
    }
}

} // namespace mdlink
