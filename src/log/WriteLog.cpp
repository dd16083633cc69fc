// WriteLog: one fixed-layout record per call, handed to the client's log.
//
//   <app>[   KVMDApi][   HeartBeat] - Send HeartBeat
//   level text, module right-aligned in 10, tag right-aligned in 12, message
#include "api/MdClient.h"

#include <cstdarg>
#include <cstdio>

namespace {

const char* LevelText(int level)
{
    switch (level) {
    case 1: return "<err>";
    case 2: return "<war>";
    case 3: return "<app>";
    case 4: return "<dbg>";
    default: return "";
    }
}

constexpr std::size_t PrefixSize = 200;
constexpr std::size_t MessageSize = 2001;
// Linux keeps 1999 characters of a message, Windows 2000.
#if defined(_WIN32)
constexpr std::size_t MessageLimit = 2001;
#else
constexpr std::size_t MessageLimit = 2000;
#endif

} // namespace

void CKelvoMDClient::WriteLog(int level, const char* tag, const char* format, ...)
{
    if (!Logger)
        return;
    char prefix[PrefixSize] = {};
    std::snprintf(prefix, sizeof prefix, "%s[%10s][%12s]", LevelText(level), "KVMDApi", tag);

    char message[MessageSize] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, MessageLimit, format, args);
    va_end(args);

    Logger->Trace(level, "%s - %s", prefix, message);
}
